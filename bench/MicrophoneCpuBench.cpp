// Whole microphone path as the agent runs it: a private sound server plays ten seconds of audio into
// a virtual microphone, and this process records it through the PulseAudio adapter, libsoxr, the
// speech gate and the level analysis. Prints this process's CPU time per second of audio, adapter
// wake-ups included (the server and the player are other processes and are not counted).
#include <sys/resource.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "platform/fake/FakeUrlOpener.h"
#include "quillet-dictate/audio/AudioStreamer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/TemporaryDirectory.h"
#include "bench/ThreadAccounting.h"

namespace {

using namespace quillet;

double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char* argv[]) {
  // "--device-paced": the virtual microphone hands over audio at the pace this program asks for, as a
  // sound card does; by default a loopback keeps it in small real-time blocks whatever is asked.
  const bool devicePaced = argc > 1 && std::string(argv[1]) == "--device-paced";
  constexpr double kSeconds = 10;
  test::TemporaryDirectory folder;
  const auto sound = folder.path() / "voice.wav";
  {
    // Speech-like: a 180 Hz buzz with harmonics, swelling three times a second.
    test::ChildProcess sox(test::ChildProcess::pathOf("sox"),
                           {"-n", "-r", "48000", "-c", "2", sound.string(), "synth", std::to_string(kSeconds), "sine",
                            "180", "sine", "360", "remix", "-", "tremolo", "3", "80", "gain", "-12", "channels", "2"},
                           {}, {}, test::ChildProcess::StandardOutput::discarded);
    const auto status = sox.waitForExit(std::chrono::seconds(60));
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
      std::fprintf(stderr, "sox could not make the test sound\n");
      return 1;
    }
  }

  test::PrivatePulseServer server(test::PrivatePulseServer::Microphone{},
                                  devicePaced ? test::PrivatePulseServer::FeedLoopback::absent
                                              : test::PrivatePulseServer::FeedLoopback::playing);
  platform::pulse::PulseAudioInput input(server.serverAddress(), "quillet-bench");
  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeUrlOpener opener;
  dictate::VxLog log(folder.path() / "vessio.log", loop, {});
  auto streamer = dictate::AudioStreamer::create(input, platform::soxr::SoxrResampler::factory(), loop, log, opener);

  std::mutex mutex;
  std::size_t chunkCount = 0;
  std::size_t levelCount = 0;
  const double cpuBefore = processCpuSeconds();
  streamer->start(
      [&](dictate::AudioStreamer::Chunk) {
        std::lock_guard lock(mutex);
        ++chunkCount;
      },
      [](dictate::MicStatus) {}, [&](dictate::Levels) { ++levelCount; });
  std::thread player([&server, &sound] { server.play(sound); });

  // Connecting to the server and opening the stream are one-time costs of a session; the
  // steady state is measured over the middle eight seconds of the recording.
  constexpr double kMeasuredSeconds = 8;
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const auto before = bench::ThreadAccounting::of("/proc/self");
  std::this_thread::sleep_for(std::chrono::duration<double>(kMeasuredSeconds));
  const auto after = bench::ThreadAccounting::of("/proc/self");
  player.join();
  streamer->stop();
  loop.runUntil([] { return false; }, std::chrono::milliseconds(200));
  const double sessionCpu = processCpuSeconds() - cpuBefore;

  double pathCpu = 0;
  for (const auto& [name, cpu] : after.cpuSeconds) {
    const double used = cpu - (before.cpuSeconds.count(name) != 0 ? before.cpuSeconds.at(name) : 0.0);
    const auto wakeUps = (after.wakeUps.count(name) != 0 ? after.wakeUps.at(name) : 0) -
                         (before.wakeUps.count(name) != 0 ? before.wakeUps.at(name) : 0);
    std::printf("  thread %-16s %.2f ms CPU and %.0f wake-ups per second of audio\n", name.c_str(),
                used * 1000.0 / kMeasuredSeconds, double(wakeUps) / kMeasuredSeconds);
    // The main thread only waits here; the agent's path is the audio and analysis threads.
    if (name == "pulse-input" || name == "antix.audio.fft") pathCpu += used;
  }
  std::printf("microphone path, steady state (audio and analysis threads): %.2f ms CPU per second of audio (%.3f%% of one core)\n",
              pathCpu * 1000.0 / kMeasuredSeconds, pathCpu * 100.0 / kMeasuredSeconds);
  std::printf("whole session including connecting, the harness and teardown: %.1f ms CPU per second of audio; %zu chunks, %zu level updates\n",
              sessionCpu * 1000.0 / kSeconds, chunkCount, levelCount);
  return 0;
}
