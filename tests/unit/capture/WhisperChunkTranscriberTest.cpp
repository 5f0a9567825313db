#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <future>
#include <map>
#include <mutex>

#include "CollectedLines.h"
#include "TestAudio.h"
#include "platform/fake/FakeResampler.h"
#include "platform/fake/VirtualMainLoop.h"
#include "quillet-capture/transcription/WhisperChunkTranscriber.h"
#include "tests/support/FileContents.h"
#include "tests/support/Pcm16.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::capture {
namespace {

namespace fs = std::filesystem;
using platform::fake::FakeResampler;
using platform::fake::VirtualMainLoop;
using testing::CollectedLines;
using testing::TestAudio;

constexpr float kLoud = 0.1f;  // 3277 as a 16-bit sample, well above the default level of 350
constexpr float kQuiet = 0.0f;

// One capture's worth of services: virtual time, an environment, a temporary directory and the
// events and diagnostics the transcriber produces.
class WhisperHarness {
 public:
  std::shared_ptr<WhisperChunkTranscriber> make(platform::ResamplerFactory resamplers = FakeResampler::factory()) {
    return std::make_shared<WhisperChunkTranscriber>(
        clock.monotonicNow(), WhisperChunkTranscriber::Services{
                                  clock, std::move(resamplers),
                                  [this](const char* name) -> std::optional<std::string> {
                                    const auto found = environment.find(name);
                                    if (found == environment.end()) return std::nullopt;
                                    return found->second;
                                  },
                                  temporary(), [this](Event event) { record(std::move(event)); }, diagnostics.sink()});
  }

  [[nodiscard]] fs::path temporary() const { return root.path() / "tmp"; }
  [[nodiscard]] fs::path sharedFolder() const { return temporary() / "quillet-audio"; }

  // Feeds `milliseconds` of 16 kHz mono audio at `level` in 100 ms buffers, each arriving 100 ms after the last.
  void feed(WhisperChunkTranscriber& transcriber, int milliseconds, float level) {
    for (int fed = 0; fed < milliseconds; fed += 100) {
      transcriber.consume(TestAudio::mono16k(std::size_t(std::min(100, milliseconds - fed)), level).buffer());
      clock.advance(0.1);
    }
  }

  static void stopAndWait(WhisperChunkTranscriber& transcriber) {
    std::promise<void> stopped;
    transcriber.stop([&stopped] { stopped.set_value(); });
    stopped.get_future().wait();
  }

  static void startAs(WhisperChunkTranscriber& transcriber, Speaker speaker) {
    Expected<void, CaptureError> failure{CaptureError{}};
    transcriber.start(speaker, "fr-FR",
                      [&failure](Expected<void, CaptureError> result) { failure = std::move(result); });
    EXPECT_TRUE(failure.hasValue()) << "start never fails";
  }

  [[nodiscard]] std::vector<AudioChunk> audioEvents() const {
    std::lock_guard lock(mutex_);
    return audio_;
  }

  VirtualMainLoop clock;
  std::map<std::string, std::string> environment;
  CollectedLines diagnostics;
  test::TemporaryDirectory root;

 private:
  void record(Event event) {
    std::lock_guard lock(mutex_);
    const auto* audio = std::get_if<AudioChunk>(&event.payload());
    ASSERT_NE(audio, nullptr) << "only audio events are expected";
    audio_.push_back(*audio);
  }

  mutable std::mutex mutex_;
  std::vector<AudioChunk> audio_;
};

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

TEST(WhisperChunkTranscriberTest, NamesFilesAfterSpeakerAndNumber) {
  EXPECT_EQ(WhisperChunkTranscriber::fileName(Speaker::you, 0), "ql-you-0.wav");
  EXPECT_EQ(WhisperChunkTranscriber::fileName(Speaker::others, 12), "ql-others-12.wav");
}

TEST(WhisperChunkTranscriberTest, StartAnnouncesTheSpeaker) {
  WhisperHarness harness;
  auto transcriber = harness.make();
  WhisperHarness::startAs(*transcriber, Speaker::others);
  EXPECT_EQ(harness.diagnostics.lines(),
            (std::vector<std::string>{"[whisper] start speaker=others — emitting audio chunks\n"}));
}

TEST(WhisperChunkTranscriberTest, OneSecondBecomesA32044ByteWavFileWithTheCanonicalHeader) {
  WhisperHarness harness;
  auto transcriber = harness.make();
  WhisperHarness::startAs(*transcriber, Speaker::you);
  harness.feed(*transcriber, 1000, kLoud);
  WhisperHarness::stopAndWait(*transcriber);

  const fs::path file = harness.sharedFolder() / "ql-you-0.wav";
  const std::string wav = test::readFile(file);
  ASSERT_EQ(wav.size(), 32044U);
  // clang-format off
  const std::vector<std::uint8_t> expectedHeader{
      'R', 'I', 'F', 'F', 0x24, 0x7D, 0x00, 0x00,  // 36 + 32000
      'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',    //
      16, 0, 0, 0, 1, 0, 1, 0,                    // fmt size, PCM, one channel
      0x80, 0x3E, 0, 0, 0x00, 0x7D, 0, 0,         // 16000 Hz, 32000 bytes a second
      2, 0, 16, 0, 'd', 'a', 't', 'a',            // block align, bits per sample
      0x00, 0x7D, 0x00, 0x00};                    // 32000 bytes of samples
  // clang-format on
  EXPECT_EQ(bytesOf(wav.substr(0, 44)), expectedHeader);
  EXPECT_EQ(test::samplesOfPcm16(wav, 44), std::vector<std::int16_t>(16000, 3277));

  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600U);
}

TEST(WhisperChunkTranscriberTest, ReportsEachPieceWithItsSpeakerAbsolutePathAndTimes) {
  WhisperHarness harness;
  auto transcriber = harness.make();
  WhisperHarness::startAs(*transcriber, Speaker::others);
  harness.clock.advance(2.5);  // the source delivers its first audio 2.5 s into the capture
  harness.feed(*transcriber, 1000, kLoud);
  harness.feed(*transcriber, 600, kQuiet);  // ends the first utterance, silence included
  harness.feed(*transcriber, 500, kLoud);
  harness.clock.advance(30);  // paused: no audio flows, and the piece goes on after it
  harness.feed(*transcriber, 300, kLoud);
  WhisperHarness::stopAndWait(*transcriber);

  const fs::path folder = fs::absolute(harness.sharedFolder());
  EXPECT_EQ(harness.audioEvents(), (std::vector<AudioChunk>{
                                       {Speaker::others, (folder / "ql-others-0.wav").string(), 2500, 4100},
                                       {Speaker::others, (folder / "ql-others-1.wav").string(), 4100, 4900},
                                   }));
  EXPECT_EQ(test::readFile(folder / "ql-others-0.wav").size(), 44U + 1600 * 32);
  EXPECT_EQ(test::readFile(folder / "ql-others-1.wav").size(), 44U + 800 * 32);
}

TEST(WhisperChunkTranscriberTest, StopWritesWhatIsBufferedUnlessItIsSilence) {
  static const struct {
    const char* name;
    int speechMs;
    int silenceMs;
    std::vector<std::int64_t> expectedEnds;
  } cases[] = {
      {"half a second of speech", 500, 0, {500}},
      {"speech followed by a short pause", 300, 400, {700}},
      {"silence only", 0, 800, {}},
      {"nothing consumed", 0, 0, {}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    WhisperHarness harness;
    auto transcriber = harness.make();
    WhisperHarness::startAs(*transcriber, Speaker::you);
    harness.feed(*transcriber, testCase.speechMs, kLoud);
    harness.feed(*transcriber, testCase.silenceMs, kQuiet);
    WhisperHarness::stopAndWait(*transcriber);

    std::vector<std::int64_t> ends;
    for (const auto& chunk : harness.audioEvents()) ends.push_back(chunk.end);
    EXPECT_EQ(ends, testCase.expectedEnds);
    EXPECT_EQ(fs::exists(harness.sharedFolder() / "ql-you-0.wav"), !testCase.expectedEnds.empty());
  }
}

TEST(WhisperChunkTranscriberTest, EnvironmentChangesTheCuts) {
  WhisperHarness harness;
  harness.environment = {{"QL_VAD_MAX_CHUNK_MS", "500"}, {"QL_VAD_SILENCE_LEVEL", "100000"}};
  auto transcriber = harness.make();
  EXPECT_EQ(transcriber->settings().maxChunkMs, 500);
  EXPECT_EQ(transcriber->settings().silenceLevel, 32767);
  WhisperHarness::startAs(*transcriber, Speaker::you);
  harness.feed(*transcriber, 1000, 1.0f);   // full scale: the only level a 32767 threshold hears
  harness.feed(*transcriber, 1000, kLoud);  // silence to that threshold
  WhisperHarness::stopAndWait(*transcriber);

  std::vector<std::pair<std::int64_t, std::int64_t>> times;
  for (const auto& chunk : harness.audioEvents()) times.emplace_back(chunk.start, chunk.end);
  EXPECT_EQ(times, (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 500}, {500, 1000}}));
}

TEST(WhisperChunkTranscriberTest, ConvertsStereo48kHzToMono16kHz) {
  WhisperHarness harness;
  auto transcriber = harness.make();
  WhisperHarness::startAs(*transcriber, Speaker::you);
  for (int buffer = 0; buffer < 10; ++buffer) {
    transcriber->consume(TestAudio::constant(48000, 4800, {0.2f, 0.0f}).buffer());
    harness.clock.advance(0.1);
  }
  WhisperHarness::stopAndWait(*transcriber);

  const std::string wav = test::readFile(harness.sharedFolder() / "ql-you-0.wav");
  EXPECT_EQ(test::samplesOfPcm16(wav, 44), std::vector<std::int16_t>(16000, 3277));
  ASSERT_EQ(harness.audioEvents().size(), 1U);
  EXPECT_EQ(harness.audioEvents().front().end, 1000);
}

TEST(WhisperChunkTranscriberTest, DropsBuffersThatCannotBeConverted) {
  WhisperHarness harness;
  auto transcriber = harness.make([](double, double) -> std::unique_ptr<platform::Resampler> { return nullptr; });
  WhisperHarness::startAs(*transcriber, Speaker::you);
  harness.feed(*transcriber, 2000, kLoud);
  WhisperHarness::stopAndWait(*transcriber);
  EXPECT_TRUE(harness.audioEvents().empty());
  EXPECT_TRUE(fs::is_empty(harness.sharedFolder()));
}

TEST(WhisperChunkTranscriberTest, ALaterCaptureNumbersFromZeroButNeverOverwritesAnEarlierFile) {
  WhisperHarness harness;
  const fs::path folder = fs::absolute(harness.sharedFolder());
  const auto capture = [&harness](Speaker speaker) {
    auto transcriber = harness.make();
    WhisperHarness::startAs(*transcriber, speaker);
    harness.feed(*transcriber, 500, kLoud);
    WhisperHarness::stopAndWait(*transcriber);
  };
  capture(Speaker::you);
  const std::string first = test::readFile(folder / "ql-you-0.wav");
  ASSERT_FALSE(first.empty());
  // A link planted where the next number would go is skipped as well, and its target left alone.
  const fs::path victim = harness.root.path() / "victim";
  test::writeFile(victim, "precious");
  fs::create_symlink(victim, folder / "ql-you-1.wav");

  capture(Speaker::you);
  capture(Speaker::others);

  std::vector<std::string> paths;
  for (const auto& chunk : harness.audioEvents()) paths.push_back(chunk.wavPath);
  EXPECT_EQ(paths, (std::vector<std::string>{(folder / "ql-you-0.wav").string(), (folder / "ql-you-2.wav").string(),
                                             (folder / "ql-others-0.wav").string()}));
  EXPECT_EQ(test::readFile(folder / "ql-you-0.wav"), first);
  EXPECT_EQ(test::readFile(victim), "precious");
}

TEST(WhisperChunkTranscriberTest, WithoutAPrivateFolderEveryWriteFailsAndNothingIsReported) {
  WhisperHarness harness;
  fs::create_directories(harness.temporary());
  test::writeFile(harness.sharedFolder(), "not a folder");
  auto transcriber = harness.make();
  EXPECT_FALSE(transcriber->folder().usable());
  WhisperHarness::startAs(*transcriber, Speaker::you);
  harness.feed(*transcriber, 1000, kLoud);
  harness.feed(*transcriber, 600, kQuiet);
  harness.feed(*transcriber, 500, kLoud);
  WhisperHarness::stopAndWait(*transcriber);

  EXPECT_TRUE(harness.audioEvents().empty());
  const std::string folder = fs::absolute(harness.sharedFolder()).string();
  const auto lines = harness.diagnostics.lines();
  ASSERT_EQ(lines.size(), 4U);  // the refusal, the start line and one line per lost piece
  EXPECT_EQ(lines[2], "[whisper] WAV write failed: " + folder + "/ql-you-0.wav\n");
  EXPECT_EQ(lines[3], "[whisper] WAV write failed: " + folder + "/ql-you-1.wav\n");
}

TEST(WhisperChunkTranscriberTest, FallsBackToTheRuntimeDirectoryWhenTheSharedFolderIsOpen) {
  WhisperHarness harness;
  fs::create_directories(harness.sharedFolder());
  fs::permissions(harness.sharedFolder(), fs::perms::all, fs::perm_options::replace);
  const fs::path runtime = harness.root.path() / "run";
  fs::create_directories(runtime);
  harness.environment = {{"XDG_RUNTIME_DIR", runtime.string()}};
  auto transcriber = harness.make();
  WhisperHarness::startAs(*transcriber, Speaker::you);
  harness.feed(*transcriber, 500, kLoud);
  WhisperHarness::stopAndWait(*transcriber);

  ASSERT_EQ(harness.audioEvents().size(), 1U);
  EXPECT_EQ(harness.audioEvents().front().wavPath, (runtime / "quillet-audio" / "ql-you-0.wav").string());
  EXPECT_TRUE(fs::is_empty(harness.sharedFolder()));
  ASSERT_FALSE(harness.diagnostics.lines().empty());
  EXPECT_EQ(harness.diagnostics.lines().front().rfind("[whisper] not using " + harness.sharedFolder().string(), 0), 0U);
}

}  // namespace
}  // namespace quillet::capture
