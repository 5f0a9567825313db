#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <utility>

#include "CollectedLines.h"
#include "TestAudio.h"
#include "common/audio/WavFormat.h"
#include "platform/linux/sndfile/SndfileAudioFiles.h"
#include "platform/fake/FakeResampler.h"
#include "quillet-capture/transcription/TeeTranscriber.h"
#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::capture {
namespace {

namespace fs = std::filesystem;
using platform::fake::FakeResampler;
using testing::CollectedLines;
using testing::TestAudio;

// The wrapped transcriber: notes what reaches it and can hold its stop open.
class RecordingTranscriber final : public Transcriber {
 public:
  void start(Speaker speaker, std::string locale, StartCompletion completion) override {
    startedAs = {speaker, std::move(locale)};
    completion(startFailure);
  }
  void consume(const platform::AudioBuffer& buffer) override {
    ++buffers;
    frames += buffer.frameCount;
  }
  void stop(StopCompletion completion) override {
    ++stops;
    if (holdStop) {
      heldStop = std::move(completion);
    } else {
      completion();
    }
  }

  Expected<void, CaptureError> startFailure;
  std::optional<std::pair<Speaker, std::string>> startedAs;
  int buffers = 0;
  std::size_t frames = 0;
  int stops = 0;
  bool holdStop = false;
  StopCompletion heldStop;
};

class TeeHarness {
 public:
  std::shared_ptr<TeeTranscriber> make(const fs::path& file,
                                       platform::ResamplerFactory resamplers = FakeResampler::factory()) {
    return TeeTranscriber::make(inner, file, files, std::move(resamplers), diagnostics.sink());
  }

  static void feed(Transcriber& tee, int buffers, const TestAudio& audio) {
    for (int index = 0; index < buffers; ++index) tee.consume(audio.buffer());
  }

  static void stopAndWait(Transcriber& tee) {
    std::promise<void> stopped;
    tee.stop([&stopped] { stopped.set_value(); });
    stopped.get_future().wait();
  }

  // The recording as libsndfile reads it back.
  // An unreadable recording fails the test and reads as an empty one.
  static std::unique_ptr<platform::AudioFileReader> reopen(const fs::path& file) {
    platform::sndfile::SndfileAudioFiles reader;
    auto opened = reader.open(file);
    if (opened.hasValue()) return std::move(opened).value();
    ADD_FAILURE() << opened.error().description;
    return std::move(reader.openBytes(audio::WavFormat::buildWAVFromSamples({})).value());
  }

  platform::sndfile::SndfileAudioFiles files;
  std::shared_ptr<RecordingTranscriber> inner = std::make_shared<RecordingTranscriber>();
  CollectedLines diagnostics;
  test::TemporaryDirectory root;
};

const std::string kFailurePrefix = "[tee] write failed, the recognizer's transcript still stands: ";

TEST(TeeTranscriberTest, NamesTheFileAfterTheSide) {
  EXPECT_EQ(TeeTranscriber::fileFor("/staging", Speaker::you), fs::path("/staging/mic.wav"));
  EXPECT_EQ(TeeTranscriber::fileFor("/staging", Speaker::others), fs::path("/staging/system.wav"));
}

TEST(TeeTranscriberTest, RecordsThirtySecondsOf48kHzStereoAsMono16kHzInANewStagingFolder) {
  TeeHarness harness;
  const fs::path staging = harness.root.path() / "host" / "staging";
  const fs::path file = TeeTranscriber::fileFor(staging, Speaker::you);
  auto tee = harness.make(file);

  Expected<void, CaptureError> startResult{CaptureError{}};
  tee->start(Speaker::you, "de-DE", [&startResult](Expected<void, CaptureError> failure) { startResult = failure; });
  EXPECT_TRUE(startResult.hasValue());
  TeeHarness::feed(*tee, 300, TestAudio::constant(48000, 4800, {0.2f, 0.0f}));
  TeeHarness::stopAndWait(*tee);

  EXPECT_EQ(harness.diagnostics.lines(), (std::vector<std::string>{"[tee] writing mic.wav from 48000.0Hz 2ch\n",
                                                                   "[tee] closed mic.wav frames=480000 (30s)\n"}));
  auto recording = TeeHarness::reopen(file);
  EXPECT_EQ(recording->sampleRate(), 16000);
  EXPECT_EQ(recording->channelCount(), 1);
  EXPECT_EQ(recording->frameCount(), 480000U);
  const auto start = recording->readFrames(4);
  ASSERT_TRUE(start.hasValue());
  EXPECT_EQ(start.value().channels.front(), std::vector<float>(4, 3277.0f / 32768.0f));
  EXPECT_EQ(test::readFile(file).size(), 44U + 480000 * 2) << "16-bit samples behind a canonical header";

  EXPECT_EQ(harness.inner->startedAs, std::make_pair(Speaker::you, std::string("de-DE")));
  EXPECT_EQ(harness.inner->buffers, 300);
  EXPECT_EQ(harness.inner->frames, 300U * 4800);
  EXPECT_EQ(harness.inner->stops, 1);
}

TEST(TeeTranscriberTest, StartFailsAsTheWrappedTranscriberFails) {
  TeeHarness harness;
  harness.inner->startFailure = CaptureError::microphoneAccessDenied();
  auto tee = harness.make(harness.root.path() / "mic.wav");
  Expected<void, CaptureError> startResult;
  tee->start(Speaker::you, "en-US", [&startResult](Expected<void, CaptureError> failure) { startResult = failure; });
  EXPECT_EQ(startResult, CaptureError::microphoneAccessDenied());
}

TEST(TeeTranscriberTest, AFormatChangeGoesOnInTheSameFile) {
  TeeHarness harness;
  const fs::path file = harness.root.path() / "system.wav";
  auto tee = harness.make(file);
  TeeHarness::feed(*tee, 10, TestAudio::constant(48000, 4800, {0.2f, 0.2f}));
  TeeHarness::feed(*tee, 10, TestAudio::mono16k(100, -0.2f));
  TeeHarness::stopAndWait(*tee);

  EXPECT_EQ(harness.diagnostics.lines(), (std::vector<std::string>{"[tee] writing system.wav from 48000.0Hz 2ch\n",
                                                                   "[tee] closed system.wav frames=32000 (2s)\n"}));
  auto recording = TeeHarness::reopen(file);
  EXPECT_EQ(recording->frameCount(), 32000U);
  const auto all = recording->readRemaining();
  ASSERT_TRUE(all.hasValue());
  const auto& samples = all.value().channels.front();
  EXPECT_GT(samples.front(), 0.1f);
  EXPECT_LT(samples.back(), -0.1f);
}

TEST(TeeTranscriberTest, AnUnwritableStagingFolderEndsOnlyTheRecording) {
  TeeHarness harness;
  test::writeFile(harness.root.path() / "not-a-folder", "");
  const fs::path staging = harness.root.path() / "not-a-folder" / "staging";
  auto tee = harness.make(TeeTranscriber::fileFor(staging, Speaker::others));

  TeeHarness::feed(*tee, 5, TestAudio::mono16k(100, 0.2f));
  TeeHarness::stopAndWait(*tee);

  EXPECT_EQ(harness.diagnostics.lines(),
            (std::vector<std::string>{kFailurePrefix + "cannot create " + staging.string() + ": Not a directory\n"}));
  EXPECT_EQ(harness.inner->buffers, 5) << "every buffer still reaches the transcript";
  EXPECT_EQ(harness.inner->stops, 1);
}

TEST(TeeTranscriberTest, AConversionFailureKeepsWhatWasWritten) {
  static const struct {
    const char* name;
    std::string error;
    std::string expectedDescription;
  } cases[] = {
      {"the resampler's description", "resampler broke", "resampler broke"},
      {"no description", "", "tee error 1"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    TeeHarness harness;
    FakeResampler* resampler = nullptr;
    const fs::path file = harness.root.path() / "mic.wav";
    auto tee =
        harness.make(file, [&resampler](double inputRate, double outputRate) -> std::unique_ptr<platform::Resampler> {
          auto made = std::make_unique<FakeResampler>(inputRate, outputRate);
          resampler = made.get();
          return made;
        });
    const auto audio = TestAudio::mono16k(100, 0.2f);
    TeeHarness::feed(*tee, 3, audio);
    ASSERT_NE(resampler, nullptr);
    resampler->failNext = Error(testCase.error);
    TeeHarness::feed(*tee, 4, audio);
    TeeHarness::stopAndWait(*tee);

    EXPECT_EQ(harness.diagnostics.lines(),
              (std::vector<std::string>{"[tee] writing mic.wav from 16000.0Hz 1ch\n",
                                        kFailurePrefix + testCase.expectedDescription + "\n"}));
    EXPECT_EQ(harness.inner->buffers, 7);
    EXPECT_EQ(TeeHarness::reopen(file)->frameCount(), 4800U);
  }
}

TEST(TeeTranscriberTest, BuffersArrivingWhileOrAfterStoppingAreNotRecorded) {
  TeeHarness harness;
  harness.inner->holdStop = true;
  const fs::path file = harness.root.path() / "system.wav";
  auto tee = harness.make(file);
  const auto audio = TestAudio::mono16k(100, 0.2f);
  TeeHarness::feed(*tee, 10, audio);

  bool stopped = false;
  tee->stop([&stopped] { stopped = true; });
  TeeHarness::feed(*tee, 5, audio);  // a stream whose stop was abandoned goes on delivering
  ASSERT_TRUE(harness.inner->heldStop);
  EXPECT_FALSE(stopped);
  // Taken out, as a transcriber drops its completion once called, so the tee it holds can go.
  const auto finishInnerStop = std::exchange(harness.inner->heldStop, nullptr);
  finishInnerStop();
  EXPECT_TRUE(stopped);
  TeeHarness::feed(*tee, 5, audio);

  EXPECT_EQ(harness.inner->buffers, 20);
  EXPECT_EQ(harness.diagnostics.lines(), (std::vector<std::string>{"[tee] writing system.wav from 16000.0Hz 1ch\n",
                                                                   "[tee] closed system.wav frames=16000 (1s)\n"}));
  EXPECT_EQ(TeeHarness::reopen(file)->frameCount(), 16000U) << "the closed recording is neither extended nor replaced";
}

TEST(TeeTranscriberTest, ReplacesAnExistingRecordingWithoutFollowingALink) {
  TeeHarness harness;
  const fs::path victim = harness.root.path() / "victim";
  test::writeFile(victim, "precious");
  const fs::path file = harness.root.path() / "mic.wav";
  fs::create_symlink(victim, file);
  auto tee = harness.make(file);
  TeeHarness::feed(*tee, 10, TestAudio::mono16k(100, 0.2f));
  TeeHarness::stopAndWait(*tee);

  EXPECT_EQ(test::readFile(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(file));
  EXPECT_EQ(TeeHarness::reopen(file)->frameCount(), 16000U);
}

TEST(TeeTranscriberTest, StopWithoutAudioWritesNothing) {
  TeeHarness harness;
  const fs::path file = harness.root.path() / "mic.wav";
  auto tee = harness.make(file);
  TeeHarness::stopAndWait(*tee);
  EXPECT_TRUE(harness.diagnostics.lines().empty());
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(harness.inner->stops, 1);
}

}  // namespace
}  // namespace quillet::capture
