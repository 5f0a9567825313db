// Latency of a dictation's end: a 20 s spoken sample is played in real time through the microphone
// path, the chunked client and the engine router with the on-device recogniser, and the time from the
// end of the input to the final text is set against the time the last chunk alone takes to transcribe
// (the floor: nothing can be final before the last chunk is). Also prints the real-time factor of the
// same run as fast as possible.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <sstream>

#include "platform/fake/FakeUrlOpener.h"
#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/curl/CurlHttpClient.h"
#include "platform/linux/pocketsphinx/PocketSphinxRecognizer.h"
#include "platform/linux/sndfile/SndfileAudioFiles.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "quillet-dictate/backend/AuthService.h"
#include "quillet-dictate/shell/DictateFileJob.h"
#include "quillet-dictate/transcription/MuseTranscriber.h"
#include "quillet-dictate/transcription/SpeechAnalyzerTranscriber.h"
#include "quillet-dictate/transcription/TranscriptionRouter.h"
#include "tests/support/SpokenSample.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace quillet;
using Clock = std::chrono::steady_clock;

// About twenty seconds of espeak-ng sentences with pauses between them, ending in speech so that the
// last chunk is the one cut when the input ends.
bool makeSample(const std::filesystem::path& folder, const std::filesystem::path& sample) {
  return test::makeSpokenSample(folder,
                                {"We shipped the new build on Friday morning after the last review.",
                                 "The team fixed the login problem and the slow search on the main page.",
                                 "Next week we will test the release with real users in three cities.",
                                 "Please send the notes to everyone who joined the call today."},
                                1.2, sample);
}

struct Run {
  double endToFinalSeconds = 0;
  double wallSeconds = 0;
  std::vector<std::uint8_t> lastChunk;
  // The client's receive lines, which carry each chunk's own time from send to result.
  std::vector<std::string> receiveLines;
  // How long each on-device transcription took inside the run, in call order.
  std::vector<double> onDeviceSeconds;
  std::size_t chunkCount = 0;
  std::string transcript;
};

Run dictateSample(const std::filesystem::path& sample, dictate::FileAudioInput::Pace pace, platform::AudioFiles& files,
                  const dictate::TranscriptionRouter::OnDeviceTranscribe& onDevice, const std::filesystem::path& folder) {
  platform::fake::VirtualMainLoop loop;
  platform::fake::MemoryDefaultsStore store;
  NotificationCenter notifications;
  dictate::SettingsManager settings{store, notifications, dictate::SettingsDefaults{"http://127.0.0.1:1", "anon"}};
  Run run;
  std::mutex mutex;
  std::optional<Clock::time_point> inputEnded;
  dictate::VxLog log(folder / "vessio.log", loop, [&](std::string_view line) {
    std::lock_guard lock(mutex);
    if (line.find("🎙 streamer stopped") != std::string_view::npos) inputEnded = Clock::now();
    if (line.find("[STT] recv") != std::string_view::npos) run.receiveLines.emplace_back(line);
  });
  platform::curl::CurlHttpClient http(loop);
  WorkerPool workers(loop, 4);
  dictate::AuthService auth(http, settings);
  dictate::MuseTranscriber cloud(http, settings, auth, loop, "http://127.0.0.1:1/v1/asr/transcribe");
  const dictate::TranscriptionRouter::OnDeviceTranscribe timedOnDevice = [&](const std::vector<std::uint8_t>& wav,
                                                                             const std::string& locale,
                                                                             std::stop_token stop) {
    const auto before = Clock::now();
    auto outcome = onDevice(wav, locale, std::move(stop));
    std::lock_guard lock(mutex);
    run.onDeviceSeconds.push_back(std::chrono::duration<double>(Clock::now() - before).count());
    return outcome;
  };
  dictate::TranscriptionRouter router({cloud, timedOnDevice, http}, workers, loop, loop, settings, log,
                                      [](const char*) -> std::optional<std::string> { return "1"; });
  auto transcriber = router.chunkTranscriber();
  dictate::ChunkTranscriber recording = [&](const dictate::AudioStreamer::Chunk& chunk, auto completion) {
    {
      std::lock_guard lock(mutex);
      run.lastChunk = chunk.wav;
      ++run.chunkCount;
    }
    transcriber(chunk, std::move(completion));
  };
  platform::fake::FakeUrlOpener opener;
  std::ostringstream partials;
  std::ostringstream finalOutput;
  dictate::DictateFileJob job(loop, loop, files, platform::soxr::SoxrResampler::factory(), recording, log, opener,
                              partials, finalOutput);
  std::optional<int> exitStatus;
  std::optional<Clock::time_point> finished;
  const auto started = Clock::now();
  job.run({sample, pace}, [&](int status) {
    exitStatus = status;
    finished = Clock::now();
  });
  while (!exitStatus) {
    loop.runUntil([&] { return exitStatus.has_value() || loop.activeTimerCount() > 0; }, std::chrono::minutes(2));
    if (!exitStatus && loop.activeTimerCount() > 0) loop.advance(dictate::TranscriptionRouter::kOnDeviceRetryDelaySeconds);
  }
  run.wallSeconds = std::chrono::duration<double>(*finished - started).count();
  {
    std::lock_guard lock(mutex);
    if (inputEnded) run.endToFinalSeconds = std::chrono::duration<double>(*finished - *inputEnded).count();
  }
  run.transcript = finalOutput.str();
  return run;
}

}  // namespace

int main() {
  test::TemporaryDirectory folder;
  const auto sample = folder.path() / "sample.wav";
  if (!makeSample(folder.path(), sample)) {
    std::fprintf(stderr, "espeak-ng or sox could not make the sample\n");
    return 1;
  }
  platform::sndfile::SndfileAudioFiles files;
  const auto file = files.open(sample);
  const double audioSeconds = file.hasValue() ? double(file.value()->frameCount()) / file.value()->sampleRate() : 0;

  platform::fake::VirtualMainLoop clockForLog;
  dictate::VxLog quietLog(folder.path() / "transcriber.log", clockForLog, [](std::string_view) {});
  platform::pocketsphinx::PocketSphinxRecognizer recognizer;
  dictate::SpeechAnalyzerTranscriber transcriber(recognizer, files, platform::soxr::SoxrResampler::factory(), quietLog,
                                                 folder.path());
  const dictate::TranscriptionRouter::OnDeviceTranscribe onDevice = [&](const std::vector<std::uint8_t>& wav,
                                                                        const std::string& locale,
                                                                        std::stop_token stop) {
    return transcriber.transcribe(wav, locale, std::move(stop));
  };

  // The model loads once per process; a first transcription warms it as the agent's first chunk would.
  const auto fast = dictateSample(sample, dictate::FileAudioInput::Pace::asFastAsPossible, files, onDevice, folder.path());
  std::printf("sample: %.1f s of speech, %zu chunks\n", audioSeconds, fast.chunkCount);
  std::printf("as fast as possible: %.2f s wall, real-time factor %.3f\n", fast.wallSeconds,
              fast.wallSeconds / audioSeconds);

  const auto live = dictateSample(sample, dictate::FileAudioInput::Pace::realTime, files, onDevice, folder.path());
  double floorSeconds = 1e9;
  for (int repeat = 0; repeat < 3; ++repeat) {
    const auto before = Clock::now();
    (void)transcriber.transcribe(live.lastChunk, "en-US");
    floorSeconds = std::min(floorSeconds, std::chrono::duration<double>(Clock::now() - before).count());
  }
  std::printf("paced like a microphone: end of input to final text %.3f s; last chunk alone %.3f s (floor); "
              "overhead %.1f ms (target: within 10%% of the floor plus 20 ms = %.3f s)\n",
              live.endToFinalSeconds, floorSeconds, (live.endToFinalSeconds - floorSeconds) * 1000,
              floorSeconds * 1.1 + 0.02);
  std::printf("  on-device transcriptions inside the run:");
  for (const double seconds : live.onDeviceSeconds) std::printf(" %.3f s", seconds);
  std::printf("\n");
  // Decode times vary by ±15 %% from run to run on a shared machine, so the fairest floor is the last
  // chunk's own transcription inside the same run; what is left is the pipeline's share.
  if (!live.onDeviceSeconds.empty()) {
    const double lastInRun = live.onDeviceSeconds.back();
    std::printf("  against the last chunk's transcription inside the run (%.3f s): overhead %.1f ms, target %.3f s\n",
                lastInRun, (live.endToFinalSeconds - lastInRun) * 1000, lastInRun * 1.1 + 0.02);
  }
  std::printf("transcript: %s", live.transcript.c_str());
  return 0;
}
