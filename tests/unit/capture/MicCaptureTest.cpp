#include "quillet-capture/sources/MicCapture.h"

#include <gtest/gtest.h>

#include <thread>

#include "CollectedLines.h"
#include "ScriptedTranscriber.h"
#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::capture {
namespace {

using platform::fake::FakeAudioInput;
using testing::CollectedLines;
using testing::ScriptedTranscriber;

const std::string kFormatLine = "[mic] format=48000.0Hz 1ch\n";

class MicCaptureTest : public ::testing::Test {
 protected:
  MicCaptureTest() { input->accessAnswer = true; }

  // Starts the source and runs the main loop until its start has answered.
  Expected<void, CaptureError> start() {
    std::optional<Expected<void, CaptureError>> answer;
    mic->start(transcriber, "fr-FR", std::nullopt, [&](Expected<void, CaptureError> failure) { answer = failure; });
    loop.runPending();
    EXPECT_TRUE(answer.has_value()) << "start never answered";
    return answer.value_or(Expected<void, CaptureError>());
  }

  bool stop() {
    bool stopped = false;
    mic->stop([&] { stopped = true; });
    loop.runPending();
    return stopped;
  }

  platform::fake::VirtualMainLoop loop;
  std::shared_ptr<CaptureControl> control = CaptureControl::make(loop);
  std::shared_ptr<AudioActivity> activity = std::make_shared<AudioActivity>(loop);
  std::shared_ptr<FakeAudioInput> input = std::make_shared<FakeAudioInput>();
  std::shared_ptr<ScriptedTranscriber> transcriber = std::make_shared<ScriptedTranscriber>();
  CollectedLines diagnostics;
  std::shared_ptr<MicCapture> mic = MicCapture::make(input, loop, *control, activity, diagnostics.sink());
};

TEST_F(MicCaptureTest, StartAsksForAccessStartsTheTranscriberAsYouThenRecordsInBuffersOf4096Frames) {
  EXPECT_TRUE(start().hasValue());
  EXPECT_EQ(input->accessRequestCount, 1);
  EXPECT_EQ(transcriber->startedAs, std::make_pair(Speaker::you, std::string("fr-FR")));
  EXPECT_TRUE(input->running);
  EXPECT_TRUE(input->tapInstalled());
  EXPECT_EQ(input->requestedBufferFrames, 4096U);
  EXPECT_TRUE(mic->isRunning());
  EXPECT_EQ(diagnostics.lines(), std::vector<std::string>{kFormatLine});
}

TEST_F(MicCaptureTest, FormatLineShowsTheRateAsADecimalNumberAndTheChannels) {
  input->format = platform::AudioFormat{44100, 2};
  ASSERT_EQ(start(), (Expected<void, CaptureError>()));
  EXPECT_EQ(diagnostics.lines(), std::vector<std::string>{"[mic] format=44100.0Hz 2ch\n"});
}

TEST_F(MicCaptureTest, RefusedAccessFailsWithoutStartingAnythingAndItsStopLeavesTheTranscriberAlone) {
  input->accessAnswer = false;
  EXPECT_EQ(start(), CaptureError::microphoneAccessDenied());
  EXPECT_EQ(CaptureError::microphoneAccessDenied().description(), "microphone access denied");
  EXPECT_FALSE(transcriber->startedAs.has_value());
  EXPECT_EQ(input->startCount, 0);
  EXPECT_FALSE(mic->isRunning());
  EXPECT_TRUE(stop());
  EXPECT_EQ(transcriber->stops, 0);
  EXPECT_EQ(input->stopCount, 0);
}

TEST_F(MicCaptureTest, StopWhileTheTranscriberStartsStopsItAndTheMicrophoneNeverOpens) {
  transcriber->holdStart = true;
  std::optional<Expected<void, CaptureError>> answer;
  mic->start(transcriber, "fr-FR", std::nullopt, [&](Expected<void, CaptureError> failure) { answer = failure; });
  loop.runPending();
  ASSERT_TRUE(transcriber->heldStart) << "the transcriber was never asked to start";

  EXPECT_TRUE(stop());
  EXPECT_EQ(transcriber->stops, 1);

  // The transcriber's start comes back after the stop: nothing opens, and the start reports why.
  transcriber->heldStart({});
  loop.runPending();
  ASSERT_TRUE(answer.has_value());
  ASSERT_TRUE(answer.has_value() && answer->failed());
  EXPECT_EQ(answer->error().description(), "the capture stopped before the microphone started");
  EXPECT_EQ(input->startCount, 0);
  EXPECT_FALSE(input->tapInstalled());
  EXPECT_FALSE(mic->isRunning());
  EXPECT_EQ(transcriber->stops, 1);
}

TEST_F(MicCaptureTest, AccessAnsweredLaterFromAnotherThreadContinuesOnTheMainLoop) {
  input->accessAnswer.reset();
  std::optional<Expected<void, CaptureError>> answer;
  mic->start(transcriber, "en-US", std::nullopt, [&](Expected<void, CaptureError> failure) { answer = failure; });
  loop.runPending();
  EXPECT_FALSE(answer.has_value());
  std::thread([this] { input->answerAccessRequest(true); }).join();
  loop.runPending();
  ASSERT_TRUE(answer.has_value());
  EXPECT_TRUE(answer->hasValue());
  EXPECT_TRUE(input->running);
}

TEST_F(MicCaptureTest, TranscriberStartFailureIsTheStartsFailureAndTheInputStaysOff) {
  transcriber->startFailure = CaptureError::recognizerUnavailable();
  EXPECT_EQ(start(), CaptureError::recognizerUnavailable());
  EXPECT_EQ(input->startCount, 0);
  EXPECT_FALSE(mic->isRunning());
}

TEST_F(MicCaptureTest, InputStartFailureIsTheStartsFailureAndLeavesNoTranscriberRunning) {
  input->startError = Error("the sound server has no input source");
  EXPECT_EQ(start(), CaptureError::fromPlatform("the sound server has no input source"));
  EXPECT_FALSE(mic->isRunning());
  EXPECT_EQ(transcriber->stops, 1) << "the started transcriber is released";
  EXPECT_FALSE(input->tapInstalled());
  EXPECT_FALSE(input->hasConfigurationChangeHandler());
  EXPECT_TRUE(stop());
  EXPECT_EQ(transcriber->stops, 1) << "stopped once only";
}

TEST_F(MicCaptureTest, BuffersReachTheTranscriberAndOnlySpeechFromTheFloorUpCountsAsHeard) {
  ASSERT_EQ(start(), (Expected<void, CaptureError>()));
  static const struct {
    float level;
    bool heard;
  } cases[] = {{0.0099F, false}, {0.01F, true}, {0.0F, false}, {0.3F, true}};
  for (const auto& buffer : cases) {
    SCOPED_TRACE(buffer.level);
    loop.advance(10);
    input->deliverConstant(buffer.level, 4096.0 / 48000, 4096);
    EXPECT_EQ(activity->idleSeconds(), buffer.heard ? 0.0 : 10.0);
    EXPECT_EQ(transcriber->firstSamples.back(), buffer.level);
  }
  EXPECT_EQ(transcriber->frames, 4 * 4096U);
}

TEST_F(MicCaptureTest, WhilePausedNothingReachesTheTranscriberYetTheCaptureCountsAsHeard) {
  ASSERT_EQ(start(), (Expected<void, CaptureError>()));
  control->set(true);
  loop.advance(10);
  input->deliverConstant(0.0F, 1, 4096);
  EXPECT_EQ(activity->idleSeconds(), 0.0);
  EXPECT_EQ(transcriber->frames, 0U);
  control->set(false);
  input->deliverConstant(0.2F, 4096.0 / 48000, 4096);
  EXPECT_EQ(transcriber->frames, 4096U);
}

TEST_F(MicCaptureTest, WorksWithoutASharedActivity) {
  auto alone = MicCapture::make(input, loop, *control, nullptr, diagnostics.sink());
  alone->start(transcriber, "en-US", std::nullopt, [](const Expected<void, CaptureError>&) {});
  loop.runPending();
  input->deliverConstant(0.5F, 4096.0 / 48000, 4096);
  EXPECT_EQ(transcriber->frames, 4096U);
}

TEST_F(MicCaptureTest, StopRemovesTheTapStopsTheInputAndTheTranscriberOnceThenAnswers) {
  ASSERT_EQ(start(), (Expected<void, CaptureError>()));
  EXPECT_TRUE(stop());
  EXPECT_FALSE(input->tapInstalled());
  EXPECT_FALSE(input->running);
  EXPECT_FALSE(input->hasConfigurationChangeHandler());
  EXPECT_EQ(transcriber->stops, 1);
  EXPECT_FALSE(mic->isRunning());
  input->running = true;
  input->deliverConstant(0.5F, 0.1, 4096);
  EXPECT_EQ(transcriber->frames, 0U);
  EXPECT_TRUE(stop());
  EXPECT_EQ(transcriber->stops, 1);
}

TEST_F(MicCaptureTest, ConfigurationChangeRestartsWithTheNewFormatTryingThreeTimesAFifthOfASecondApart) {
  const std::string restarting = "[mic] config change \xE2\x80\x94 restarting engine, format=16000.0Hz 2ch\n";
  static const struct {
    const char* name;
    std::vector<std::optional<Error>> startResults;
    std::vector<std::string> lines;
    bool recording;
  } cases[] = {
      {"first attempt succeeds", {std::nullopt}, {"[mic] engine restarted after config change (attempt 1)\n"}, true},
      {"second attempt succeeds",
       {Error("busy"), std::nullopt},
       {"[mic] engine restart attempt 1 failed: busy\n", "[mic] engine restarted after config change (attempt 2)\n"},
       true},
      {"third attempt succeeds",
       {Error("busy"), Error("gone"), std::nullopt},
       {"[mic] engine restart attempt 1 failed: busy\n", "[mic] engine restart attempt 2 failed: gone\n",
        "[mic] engine restarted after config change (attempt 3)\n"},
       true},
      {"every attempt fails",
       {Error("busy"), Error("gone"), Error("gone")},
       {"[mic] engine restart attempt 1 failed: busy\n", "[mic] engine restart attempt 2 failed: gone\n",
        "[mic] engine restart attempt 3 failed: gone\n",
        "[mic] engine restart FAILED after 3 attempts \xE2\x80\x94 mic stream is down\n"},
       false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    platform::fake::VirtualMainLoop caseLoop;
    auto caseInput = std::make_shared<FakeAudioInput>();
    caseInput->accessAnswer = true;
    auto caseTranscriber = std::make_shared<ScriptedTranscriber>();
    CollectedLines lines;
    auto source = MicCapture::make(caseInput, caseLoop, *control, activity, lines.sink());
    source->start(caseTranscriber, "en-US", std::nullopt, [](const Expected<void, CaptureError>&) {});
    caseLoop.runPending();
    ASSERT_EQ(caseInput->startCount, 1);

    caseInput->format = platform::AudioFormat{16000, 2};
    caseInput->nextStartResults.assign(testCase.startResults.begin(), testCase.startResults.end());
    std::thread([&] { caseInput->changeConfiguration(); }).join();
    caseLoop.runPending();
    EXPECT_EQ(caseInput->startCount, 2) << "the first attempt is made at once";
    for (int attempt = 2; attempt <= int(testCase.startResults.size()); ++attempt) {
      caseLoop.advance(0.299);
      EXPECT_EQ(caseInput->startCount, attempt) << "retried too early";
      caseLoop.advance(0.001);
      EXPECT_EQ(caseInput->startCount, attempt + 1);
    }
    caseLoop.advance(10);
    EXPECT_EQ(caseInput->startCount, int(testCase.startResults.size()) + 1) << "no attempt beyond the third";

    std::vector<std::string> expected{kFormatLine, restarting};
    expected.insert(expected.end(), testCase.lines.begin(), testCase.lines.end());
    EXPECT_EQ(lines.lines(), expected);
    EXPECT_EQ(caseInput->running, testCase.recording);
    EXPECT_EQ(caseInput->tapInstallCount, 2);
    EXPECT_TRUE(source->isRunning()) << "a capture whose microphone is down still stops its transcriber";

    caseInput->deliverConstant(0.5F, 0.1, 1600);
    EXPECT_EQ(caseTranscriber->frames, testCase.recording ? 1600U : 0U);
  }
}

TEST_F(MicCaptureTest, StopDuringTheRestartAttemptsCancelsTheRemainingOnes) {
  ASSERT_EQ(start(), (Expected<void, CaptureError>()));
  input->nextStartResults = {Error("busy"), std::nullopt};
  input->changeConfiguration();
  loop.runPending();
  ASSERT_EQ(input->startCount, 2);
  EXPECT_TRUE(stop());
  loop.advance(1);
  EXPECT_EQ(input->startCount, 2);
  EXPECT_FALSE(input->running);
}

TEST_F(MicCaptureTest, AConfigurationChangeAfterStopIsIgnored) {
  ASSERT_EQ(start(), (Expected<void, CaptureError>()));
  EXPECT_TRUE(stop());
  input->changeConfiguration();
  loop.advance(1);
  EXPECT_EQ(input->startCount, 1);
  EXPECT_EQ(diagnostics.lines(), std::vector<std::string>{kFormatLine});
}

TEST_F(MicCaptureTest, ASecondChangeDuringTheAttemptsStartsTheAttemptsAfresh) {
  ASSERT_EQ(start(), (Expected<void, CaptureError>()));
  input->nextStartResults = {Error("busy"), std::nullopt};
  input->changeConfiguration();
  loop.runPending();
  input->changeConfiguration();
  loop.runPending();
  EXPECT_EQ(input->startCount, 3);
  loop.advance(0.3);
  EXPECT_EQ(input->startCount, 3) << "the first change's retry was cancelled";
  const auto lines = diagnostics.lines();
  EXPECT_EQ(lines.back(), "[mic] engine restarted after config change (attempt 1)\n");
}

}  // namespace
}  // namespace quillet::capture
