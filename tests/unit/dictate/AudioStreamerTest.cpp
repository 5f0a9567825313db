#include "quillet-dictate/audio/AudioStreamer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/FakeResampler.h"
#include "platform/fake/FakeUrlOpener.h"
#include "platform/fake/VirtualMainLoop.h"
#include "common/audio/WavFormat.h"
#include "tests/support/Pcm16.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using platform::AudioFormat;
using platform::MicAuthorization;

constexpr float kSpeech = 0.1f;  // well above the speech gate
constexpr std::size_t kFramesPer100Ms = 4800;

// Records the capacity each conversion was given, then converts like the exact-ratio fake.
class RecordingResampler final : public platform::Resampler {
 public:
  RecordingResampler(double inputRate, double outputRate, std::vector<std::size_t>& capacities)
      : inner_(inputRate, outputRate), capacities_(capacities) {}
  Status convert(std::span<const float> input, std::size_t capacity, std::vector<std::int16_t>& output) override {
    capacities_.push_back(capacity);
    return inner_.convert(input, capacity, output);
  }
  platform::fake::FakeResampler inner_;

 private:
  std::vector<std::size_t>& capacities_;
};

// The payload samples of a chunk's WAV file.
std::vector<std::int16_t> samplesOf(const AudioStreamer::Chunk& chunk) {
  return test::samplesOfPcm16(chunk.wav, audio::WavFormat::kHeaderSize);
}

class AudioStreamerTest : public ::testing::Test {
 protected:
  AudioStreamerTest() {
    streamer = AudioStreamer::create(
        input,
        [this](double inputRate, double outputRate) -> std::unique_ptr<platform::Resampler> {
          if (!buildResampler) return nullptr;
          auto resampler = std::make_unique<RecordingResampler>(inputRate, outputRate, capacities);
          lastResampler = resampler.get();
          return resampler;
        },
        loop, log, urlOpener);
  }

  void startSession(bool withLevels = false) {
    AudioStreamer::LevelsHandler onLevels;
    if (withLevels) onLevels = [this](Levels levels) { levelsReceived.push_back(std::move(levels)); };
    streamer->start([this](AudioStreamer::Chunk chunk) { chunks.push_back(std::move(chunk)); },
                    [this](MicStatus status) { statuses.push_back(status); }, std::move(onLevels));
    loop.runPending();
  }

  void speak(double seconds) { input.deliverConstant(kSpeech, seconds, kFramesPer100Ms); }
  void silence(double seconds) { input.deliverConstant(0.0f, seconds, kFramesPer100Ms); }

  // Log messages without their time stamps.
  std::vector<std::string> messages() const {
    std::vector<std::string> result;
    std::size_t begin = 0;
    while (begin < logged.size()) {
      const std::size_t end = logged.find('\n', begin);
      const std::size_t messageStart = logged.find("] ", begin) + 2;
      result.push_back(logged.substr(messageStart, end - messageStart));
      begin = end + 1;
    }
    return result;
  }

  std::vector<std::string> chunkLines() const {
    std::vector<std::string> lines;
    for (const auto& message : messages()) {
      if (message.starts_with("[AUDIO]")) lines.push_back(message);
    }
    return lines;
  }

  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeAudioInput input;
  platform::fake::FakeUrlOpener urlOpener;
  test::TemporaryDirectory folder;
  std::string logged;
  VxLog log{folder.path() / "vessio.log", loop, [this](std::string_view line) { logged.append(line); }};
  bool buildResampler = true;
  std::vector<std::size_t> capacities;
  RecordingResampler* lastResampler = nullptr;
  std::shared_ptr<AudioStreamer> streamer;
  std::vector<AudioStreamer::Chunk> chunks;
  std::vector<MicStatus> statuses;
  std::vector<Levels> levelsReceived;
};

TEST_F(AudioStreamerTest, AuthorisedStartBeginsAtOnceAndReportsStartedOnTheMainLoop) {
  streamer->start([](AudioStreamer::Chunk) {}, [this](MicStatus status) { statuses.push_back(status); });
  EXPECT_TRUE(input.tapInstalled());
  EXPECT_TRUE(input.isRunning());
  EXPECT_EQ(input.requestedBufferFrames, 4096u);
  EXPECT_TRUE(statuses.empty()) << "the status is posted, not called from start()";
  loop.runPending();
  EXPECT_THAT(statuses, ElementsAre(MicStatus::started));
  EXPECT_EQ(messages().front(), "🎙 mic authorizationStatus = 3 (0=notDet,1=restr,2=denied,3=auth)");
  EXPECT_EQ(messages().back(),
            "🎙 streamer started  in=<1 ch, 48000 Hz, Float32, deinterleaved>  out=<1 ch, 16000 Hz, Int16, interleaved>");
}

TEST_F(AudioStreamerTest, RefusedPermissionsReportDeniedWithoutStarting) {
  struct Case {
    MicAuthorization status;
    const char* line;
  };
  const Case cases[] = {
      {MicAuthorization::denied, "🎙 mic permission previously denied"},
      {MicAuthorization::restricted, "🎙 mic permission previously denied"},
  };
  for (const auto& testCase : cases) {
    statuses.clear();
    logged.clear();
    input.authorizationStatus = testCase.status;
    startSession();
    EXPECT_THAT(statuses, ElementsAre(MicStatus::denied));
    EXPECT_FALSE(input.tapInstalled());
    EXPECT_THAT(messages(), ElementsAre(HasSubstr("authorizationStatus = " + std::to_string(int(testCase.status))),
                                        testCase.line));
  }
}

TEST_F(AudioStreamerTest, UndeterminedPermissionAsksAndFollowsTheAnswer) {
  input.authorizationStatus = MicAuthorization::notDetermined;
  startSession();
  EXPECT_EQ(input.accessRequestCount, 1);
  EXPECT_TRUE(statuses.empty());
  input.answerAccessRequest(true);
  EXPECT_FALSE(input.tapInstalled()) << "the answer is handled on the main loop";
  loop.runPending();
  EXPECT_THAT(statuses, ElementsAre(MicStatus::started));
  EXPECT_TRUE(input.tapInstalled());
  streamer->stop();

  statuses.clear();
  logged.clear();
  startSession();
  input.answerAccessRequest(false);
  loop.runPending();
  EXPECT_THAT(statuses, ElementsAre(MicStatus::denied));
  EXPECT_EQ(messages().back(), "🎙 mic permission denied");
  EXPECT_FALSE(input.tapInstalled());
}

TEST_F(AudioStreamerTest, AnswerArrivingAfterTheStreamerIsGoneStillReportsButStartsNothing) {
  input.authorizationStatus = MicAuthorization::notDetermined;
  startSession();
  streamer.reset();
  input.answerAccessRequest(true);
  loop.runPending();
  EXPECT_THAT(statuses, ElementsAre(MicStatus::started));
  EXPECT_FALSE(input.tapInstalled());
}

TEST_F(AudioStreamerTest, StereoIsAveragedNotSummed) {
  input.format = AudioFormat{48000, 2};
  startSession();
  input.deliver({std::vector<float>(kFramesPer100Ms * 5, 0.5f), std::vector<float>(kFramesPer100Ms * 5, 0.1f)});
  streamer->stop();
  ASSERT_EQ(chunks.size(), 1u);
  const auto samples = samplesOf(chunks[0]);
  ASSERT_EQ(samples.size(), 8000u);
  EXPECT_EQ(samples.front(), std::int16_t(std::lround(0.3f * 32767.0f)));
  EXPECT_EQ(samples.back(), samples.front());
}

TEST_F(AudioStreamerTest, FourThousandEightHundredFramesAt48kHzGive1600WithRoomFor1616) {
  startSession();
  speak(0.1);
  EXPECT_THAT(capacities, ElementsAre(1616u));
  streamer->stop();
  EXPECT_TRUE(chunks.empty());
  EXPECT_THAT(messages(), ::testing::Contains("🎙 residual too short (1600 samples) — nothing to transcribe"));
}

TEST_F(AudioStreamerTest, SilenceOnlyIsTrimmedToItsLastHalfSecondAndStillSendsOneChunkAtStop) {
  struct Case {
    double seconds;
    double expectedDuration;  // 100 ms buffers: trimmed to 0.5 s each time 2.5 s is reached
  };
  const Case cases[] = {{0.5, 0.5}, {2.4, 2.4}, {2.5, 0.5}, {4.4, 2.4}, {10.0, 2.0}, {30.0, 2.0}};
  for (const auto& testCase : cases) {
    chunks.clear();
    logged.clear();
    startSession();
    silence(testCase.seconds);
    streamer->stop();
    ASSERT_EQ(chunks.size(), 1u) << testCase.seconds;
    EXPECT_EQ(chunks[0].index, 0);
    EXPECT_NEAR(chunks[0].durationSec, testCase.expectedDuration, 1e-9) << testCase.seconds;
    EXPECT_THAT(chunkLines(), ElementsAre(HasSubstr("(stop)"))) << testCase.seconds;
  }
}

TEST_F(AudioStreamerTest, ContinuousSpeechIsCutEveryEightSeconds) {
  startSession();
  speak(20);
  streamer->stop();
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_THAT(chunkLines(), ElementsAre("[AUDIO] chunk #0 (max) 8.0s speech=8000ms rms=0.10001",
                                        "[AUDIO] chunk #1 (max) 8.0s speech=8000ms rms=0.10001",
                                        "[AUDIO] chunk #2 (stop) 4.0s speech=4000ms rms=0.10001"));
  for (int index = 0; index < 3; ++index) EXPECT_EQ(chunks[std::size_t(index)].index, index);
}

TEST_F(AudioStreamerTest, OddBufferSizesCutAtTheFirstBufferReachingEightSeconds) {
  startSession();
  input.deliverConstant(kSpeech, 9, 4096);
  ASSERT_EQ(chunks.size(), 1u);
  // 4096 frames give 1365 or 1366 samples; the cut comes with the buffer that crosses 128 000 samples.
  EXPECT_GE(chunks[0].durationSec, 8.0);
  EXPECT_LT(chunks[0].durationSec, 8.0 + 1366.0 / 16000.0);
}

TEST_F(AudioStreamerTest, LongUtteranceIsCutAfterSevenHundredMillisecondsOfPause) {
  startSession();
  speak(1.5);
  silence(0.6);
  EXPECT_TRUE(chunks.empty());
  silence(0.1);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_NEAR(chunks[0].durationSec, 2.2, 1e-9);
  const auto samples = samplesOf(chunks[0]);
  // The chunk ends with the whole pause.
  EXPECT_TRUE(std::all_of(samples.end() - 11200, samples.end(), [](std::int16_t sample) { return sample == 0; }));
  speak(1.0);
  streamer->stop();
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_NEAR(chunks[1].durationSec, 1.0, 1e-9) << "the next chunk starts empty";
  EXPECT_THAT(chunkLines(), ElementsAre("[AUDIO] chunk #0 (pause) 2.2s speech=1500ms rms=0.08258",
                                        "[AUDIO] chunk #1 (stop) 1.0s speech=1000ms rms=0.10001"));
}

TEST_F(AudioStreamerTest, ShortUtteranceIsNotCutAtAPause) {
  startSession();
  speak(1.0);
  silence(3.0);
  EXPECT_TRUE(chunks.empty()) << "under 1.2 s of speech a pause does not cut";
  silence(4.0);
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_THAT(chunkLines(), ElementsAre(HasSubstr("chunk #0 (max) 8.0s speech=1000ms")));
  streamer->stop();
}

TEST_F(AudioStreamerTest, ResidualRules) {
  // 15 000 frames at 48 kHz leave 10 000 bytes: too short to send.
  startSession();
  input.deliver({std::vector<float>(15000, kSpeech)});
  streamer->stop();
  EXPECT_TRUE(chunks.empty());
  EXPECT_THAT(messages(), ::testing::Contains("🎙 residual too short (5000 samples) — nothing to transcribe"));

  // After a chunk, a residual of silence alone is dropped.
  logged.clear();
  startSession();
  speak(1.5);
  silence(0.7);
  silence(1.0);
  streamer->stop();
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_THAT(messages(), ::testing::Contains("🎙 residual is silence (16000 samples) — not sent"));

  // After a chunk, a residual holding speech is sent.
  chunks.clear();
  startSession();
  speak(1.5);
  silence(0.7);
  silence(0.5);
  speak(0.1);
  streamer->stop();
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[1].index, 1);
  EXPECT_NEAR(chunks[1].durationSec, 0.6, 1e-9);
}

TEST_F(AudioStreamerTest, ChunksHoldEverySampleOnceInOrder) {
  startSession();
  // A ramp makes every converted sample distinct, so a lost, repeated or reordered sample shows.
  std::vector<std::int16_t> expected;
  platform::fake::FakeResampler reference(48000, 16000);
  for (int buffer = 0; buffer < 130; ++buffer) {
    std::vector<float> samples(kFramesPer100Ms);
    for (std::size_t frame = 0; frame < samples.size(); ++frame) {
      samples[frame] = 0.05f + 0.9f * float((std::size_t(buffer) * kFramesPer100Ms + frame) % 48000) / 48000.0f;
    }
    ASSERT_EQ(reference.convert(samples, samples.size(), expected), succeeded());
    input.deliver({samples});
  }
  streamer->stop();
  std::vector<std::int16_t> received;
  for (const auto& chunk : chunks) {
    const auto samples = samplesOf(chunk);
    received.insert(received.end(), samples.begin(), samples.end());
  }
  EXPECT_EQ(chunks.size(), 2u);
  EXPECT_EQ(received, expected);
}

TEST_F(AudioStreamerTest, ConverterThatCannotBeBuiltRecordsNothingButStillReportsStarted) {
  buildResampler = false;
  startSession();
  EXPECT_THAT(statuses, ElementsAre(MicStatus::started));
  EXPECT_FALSE(input.tapInstalled());
  EXPECT_THAT(messages(), ::testing::Contains("🎙 could not build AVAudioConverter @48000.0Hz mono → <1 ch, 16000 Hz, Int16, interleaved>"));

  input.format.reset();
  logged.clear();
  buildResampler = true;
  startSession();
  EXPECT_FALSE(input.tapInstalled()) << "no input, no converter";
  EXPECT_THAT(messages(), ::testing::Contains(HasSubstr("could not build AVAudioConverter @0.0Hz")));
}

TEST_F(AudioStreamerTest, EngineStartFailureIsLoggedAndALaterSessionWorks) {
  input.startError = Error("no sound server");
  startSession();
  EXPECT_THAT(statuses, ElementsAre(MicStatus::started));
  EXPECT_THAT(messages(), ::testing::Contains("🎙 engine.start failed: no sound server"));
  EXPECT_FALSE(input.tapInstalled());
  streamer->stop();

  input.startError.reset();
  startSession();
  speak(1.0);
  streamer->stop();
  EXPECT_EQ(chunks.size(), 1u);
}

TEST_F(AudioStreamerTest, ConversionErrorDropsOnlyThatBuffer) {
  startSession();
  speak(0.5);
  lastResampler->inner_.failNext = Error("bad buffer");
  speak(0.1);
  speak(0.5);
  streamer->stop();
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_NEAR(chunks[0].durationSec, 1.0, 1e-9);
  EXPECT_THAT(messages(), ::testing::Contains("🎙 convert error: bad buffer"));
}

TEST_F(AudioStreamerTest, VoiceProcessingIsSwitchedOff) {
  input.voiceProcessing = true;
  startSession();
  EXPECT_FALSE(input.voiceProcessing);
  EXPECT_THAT(messages(), ::testing::Contains("🎙 voice processing DISABLED — other apps' audio no longer ducks"));
  streamer->stop();

  input.voiceProcessing = true;
  input.voiceProcessingError = Error("not supported");
  logged.clear();
  startSession();
  EXPECT_THAT(messages(), ::testing::Contains("🎙 could not disable voice processing: not supported"));
  EXPECT_TRUE(input.tapInstalled()) << "the session goes on";
}

TEST_F(AudioStreamerTest, StopEndsTheSessionOnceAndLogs) {
  streamer->stop();
  EXPECT_TRUE(logged.empty()) << "nothing to stop";
  startSession();
  speak(1.0);
  streamer->stop();
  EXPECT_FALSE(input.tapInstalled());
  EXPECT_FALSE(input.isRunning());
  EXPECT_EQ(messages().back(), "🎙 streamer stopped");
  const auto linesAfterFirstStop = messages().size();
  streamer->stop();
  EXPECT_EQ(messages().size(), linesAfterFirstStop);
  speak(1.0);
  EXPECT_EQ(chunks.size(), 1u) << "audio after stop is ignored";
}

TEST_F(AudioStreamerTest, InputThatDiedMidSessionStillFlushesWhatItCaptured) {
  startSession();
  speak(1.0);
  input.running = false;  // the sound server went away
  streamer->stop();
  ASSERT_EQ(chunks.size(), 1u);
  EXPECT_NEAR(chunks[0].durationSec, 1.0, 1e-9);
}

TEST_F(AudioStreamerTest, LevelsArriveOnTheMainLoopOncePerBufferOnlyWhenAsked) {
  startSession(true);
  speak(0.5);
  ASSERT_TRUE(loop.runUntil([&] { return levelsReceived.size() == 5; }));
  for (const auto& levels : levelsReceived) EXPECT_EQ(levels.bands.size(), 32u);
  EXPECT_GT(levelsReceived.back().rms, 0.0f) << "a constant 0.1 signal opens the display gate";
  streamer->stop();

  levelsReceived.clear();
  startSession(false);
  speak(0.5);
  streamer->stop();
  EXPECT_FALSE(loop.runUntil([&] { return !levelsReceived.empty(); }, std::chrono::milliseconds(100)));
}

TEST_F(AudioStreamerTest, OpenMicSettingsGoesThroughTheDesktop) {
  streamer->openMicSettings();
  EXPECT_EQ(urlOpener.soundSettingsOpenCount, 1);
}

}  // namespace
}  // namespace quillet::dictate
