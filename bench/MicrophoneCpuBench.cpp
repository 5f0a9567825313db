// Whole microphone path as the agent runs it: a private sound server plays twelve seconds of audio into
// a virtual microphone, and this process records nine of them through the PulseAudio adapter, libsoxr, the
// speech gate and the level analysis. Beside it, in the same process and on the same server, a bare
// libpulse recorder records the same microphone in the same format and fragment size and does nothing
// with the audio. Prints the CPU time of each one's PulseAudio thread per wake-up (the adapter's with
// and without its tap, which is the streamer's work) and their ratio, then this process's CPU time per
// second of audio for the microphone path (the server, the player and the bare recorder are not counted).
#include <pulse/sample.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <chrono>
#include <string>
#include <thread>

#include "bench/BareRecorder.h"
#include "bench/ThreadAccounting.h"
#include "bench/TimedTapInput.h"
#include "platform/fake/FakeUrlOpener.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "quillet-dictate/audio/AudioStreamer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace quillet;

constexpr const char* kAdapterThread = "pulse-input";
constexpr const char* kBareThread = "pulse-bare";
constexpr const char* kAnalysisThread = "antix.audio.fft";

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool makeSound(const std::filesystem::path& sound, double seconds) {
  // Speech-like: a 180 Hz buzz with harmonics, swelling three times a second.
  test::ChildProcess sox(test::ChildProcess::pathOf("sox"),
                         {"-n", "-r", "48000", "-c", "2", sound.string(), "synth", std::to_string(seconds), "sine",
                          "180", "sine", "360", "remix", "-", "tremolo", "3", "80", "gain", "-12", "channels", "2"},
                         {}, {}, test::ChildProcess::StandardOutput::discarded);
  const auto status = sox.waitForExit(std::chrono::seconds(60));
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

// What one measured stretch of the recording cost each thread: snapshots taken at its two ends.
struct Snapshot {
  bench::ThreadAccounting threads;
  double tapCpuSeconds = 0;
  std::uint64_t tapCalls = 0;
  std::uint64_t barePackets = 0;

  static Snapshot take(const bench::TimedTapInput& timed, const bench::BareRecorder& bare) {
    return {bench::ThreadAccounting::of("/proc/self"), timed.tapCpuSeconds(), timed.tapCalls(), bare.packets()};
  }
};

struct Difference {
  const Snapshot& before;
  const Snapshot& after;

  [[nodiscard]] double cpu(const std::string& thread) const {
    return value(after.threads.cpuSeconds, thread) - value(before.threads.cpuSeconds, thread);
  }
  [[nodiscard]] double wakeUps(const std::string& thread) const {
    return double(value(after.threads.wakeUps, thread) - value(before.threads.wakeUps, thread));
  }

 private:
  template <typename Map>
  static typename Map::mapped_type value(const Map& map, const std::string& key) {
    const auto found = map.find(key);
    return found != map.end() ? found->second : typename Map::mapped_type{};
  }
};

}  // namespace

int main(int argc, char* argv[]) {
  // "--device-paced": the virtual microphone hands over audio at the pace this program asks for, as a
  // sound card does; by default a loopback keeps it in small real-time blocks whatever is asked.
  const bool devicePaced = argc > 1 && std::string(argv[1]) == "--device-paced";
  // The sound outlasts the recording, so that the stop comes while the microphone still hears it, as it
  // does when the user ends a dictation mid-sentence.
  constexpr double kSoundSeconds = 12;
  test::TemporaryDirectory folder;
  const auto sound = folder.path() / "voice.wav";
  if (!makeSound(sound, kSoundSeconds)) {
    std::fprintf(stderr, "sox could not make the test sound\n");
    return 1;
  }

  test::PrivatePulseServer server(test::PrivatePulseServer::Microphone{},
                                  devicePaced ? test::PrivatePulseServer::FeedLoopback::absent
                                              : test::PrivatePulseServer::FeedLoopback::playing);
  platform::pulse::PulseAudioInput input(server.serverAddress(), "quillet-bench");
  bench::TimedTapInput timed(input);
  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeUrlOpener opener;
  dictate::VxLog log(folder.path() / "vessio.log", loop, {});
  auto streamer = dictate::AudioStreamer::create(timed, platform::soxr::SoxrResampler::factory(), loop, log, opener);

  // The yardstick records first, so that its connecting is not counted as the microphone path's.
  const auto format = input.hardwareFormat();
  if (!format) {
    std::fprintf(stderr, "the private server has no microphone\n");
    return 1;
  }
  const pa_sample_spec bareFormat{PA_SAMPLE_FLOAT32NE, std::uint32_t(format->sampleRate),
                                  std::uint8_t(format->channelCount)};
  const auto fragment = platform::pulse::PulseAudioInput::fragmentMicroseconds(
      dictate::AudioStreamer::kTapBufferFrames, std::uint32_t(format->sampleRate));
  auto bare = std::make_unique<bench::BareRecorder>(server.serverAddress(), kBareThread);
  if (auto started = bare->start(bareFormat, std::uint32_t(pa_usec_to_bytes(fragment, &bareFormat)));
      started.failed()) {
    std::fprintf(stderr, "the bare recorder could not start: %s\n", started.error().description().c_str());
    return 1;
  }

  std::mutex mutex;
  std::size_t chunkCount = 0;
  std::size_t levelCount = 0;
  const double cpuBefore = processCpuSeconds();
  const auto bareBefore = bench::ThreadAccounting::of("/proc/self");
  streamer->start(
      [&](dictate::AudioStreamer::Chunk) {
        std::lock_guard lock(mutex);
        ++chunkCount;
      },
      [](dictate::MicStatus) {}, [&](dictate::Levels) { ++levelCount; });
  const auto recordingBegan = std::chrono::steady_clock::now();
  std::thread player([&server, &sound] { server.play(sound); });

  // Connecting to the server and opening the stream are one-time costs of a session; the
  // steady state is measured over the middle eight seconds of the recording.
  constexpr double kMeasuredSeconds = 8;
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const auto before = Snapshot::take(timed, *bare);
  std::this_thread::sleep_for(std::chrono::duration<double>(kMeasuredSeconds));
  const auto after = Snapshot::take(timed, *bare);
  // Stopping fetches what the device still holds, waiting a bounded time for it.
  const auto stopBegan = std::chrono::steady_clock::now();
  streamer->stop();
  const std::chrono::duration<double, std::milli> stopTook = std::chrono::steady_clock::now() - stopBegan;
  const std::chrono::duration<double> recorded = stopBegan - recordingBegan;
  player.join();
  loop.runUntil([] { return false; }, std::chrono::milliseconds(200));
  bare->stop();
  const Snapshot bareStarted{bareBefore};
  const Snapshot bareStopped{bench::ThreadAccounting::of("/proc/self")};
  const double bareSessionCpu = Difference{bareStarted, bareStopped}.cpu(kBareThread);
  bare.reset();
  const double sessionCpu = processCpuSeconds() - cpuBefore - bareSessionCpu;

  const Difference measured{before, after};
  double pathCpu = 0;
  for (const auto& [name, cpu] : after.threads.cpuSeconds) {
    if (name == kBareThread) continue;
    std::printf("  thread %-16s %.2f ms CPU and %.0f wake-ups per second of audio\n", name.c_str(),
                measured.cpu(name) * 1000.0 / kMeasuredSeconds, measured.wakeUps(name) / kMeasuredSeconds);
    // The main thread only waits here; the agent's path is the audio and analysis threads.
    if (name == kAdapterThread || name == kAnalysisThread) pathCpu += measured.cpu(name);
  }

  // Both streams record the same source at the same fragment size, so the server sends them the same packets,
  // several to a wake-up when the source pushes its audio in bursts: per second of audio the two threads handle
  // the same work, which a cost per wake-up against a cost per packet does not compare.
  const double adapterCpu = measured.cpu(kAdapterThread);
  const double adapterOwnCpu = adapterCpu - (after.tapCpuSeconds - before.tapCpuSeconds);
  const double adapterWakeUps = measured.wakeUps(kAdapterThread);
  const double tapCalls = double(after.tapCalls - before.tapCalls);
  const double bareCpu = measured.cpu(kBareThread);
  const double barePackets = double(after.barePackets - before.barePackets);
  const double bareWakeUps = measured.wakeUps(kBareThread);
  const auto perSecond = [&](double seconds) { return seconds * 1000.0 / kMeasuredSeconds; };
  std::printf("fragments of %.1f ms asked of the server by both recorders\n", double(fragment) / 1000.0);
  std::printf("adapter's PulseAudio thread: %.0f us CPU per wake-up (%.1f wake-ups per second), %.0f us of its own "
              "and %.0f us in the tap (%.0f us per tap call, %.1f calls per second)\n",
              adapterCpu * 1e6 / adapterWakeUps, adapterWakeUps / kMeasuredSeconds, adapterOwnCpu * 1e6 / adapterWakeUps,
              (adapterCpu - adapterOwnCpu) * 1e6 / adapterWakeUps, (adapterCpu - adapterOwnCpu) * 1e6 / tapCalls,
              tapCalls / kMeasuredSeconds);
  std::printf("bare libpulse recorder's thread: %.0f us CPU per wake-up (%.1f wake-ups per second), %.0f us per packet "
              "(%.1f packets per second, %.1f per wake-up)\n",
              bareCpu * 1e6 / bareWakeUps, bareWakeUps / kMeasuredSeconds, bareCpu * 1e6 / barePackets,
              barePackets / kMeasuredSeconds, barePackets / bareWakeUps);
  std::printf("per second of audio, same packets: adapter %.2f ms of its own (%.2f ms with the tap), bare %.2f ms; "
              "ratio %.2f (%.2f with the tap)\n",
              perSecond(adapterOwnCpu), perSecond(adapterCpu), perSecond(bareCpu), adapterOwnCpu / bareCpu,
              adapterCpu / bareCpu);
  std::printf("adapter per wake-up to bare recorder per packet: %.2f of its own, %.2f with the tap\n",
              (adapterOwnCpu / adapterWakeUps) / (bareCpu / barePackets),
              (adapterCpu / adapterWakeUps) / (bareCpu / barePackets));
  std::printf("stop while the sound plays, the tail's collection included: %.1f ms\n", stopTook.count());
  std::printf("microphone path, steady state (audio and analysis threads): %.2f ms CPU per second of audio (%.3f%% of one core)\n",
              pathCpu * 1000.0 / kMeasuredSeconds, pathCpu * 100.0 / kMeasuredSeconds);
  std::printf("whole session including connecting, the harness and teardown: %.1f ms CPU per second of audio; %zu chunks, %zu level updates\n",
              sessionCpu * 1000.0 / recorded.count(), chunkCount, levelCount);
  return 0;
}
