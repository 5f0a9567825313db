#include "quillet-capture/sources/SystemAudioCapture.h"

#include <gtest/gtest.h>

#include "CollectedLines.h"
#include "ScriptedTranscriber.h"
#include "platform/fake/FakeSystemAudioInput.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::capture {
namespace {

using platform::SystemAudioContent;
using platform::fake::FakeSystemAudioInput;
using testing::CollectedLines;
using testing::ScriptedTranscriber;

const std::string kStartedLine = "[sysaudio] capture started\n";

class SystemAudioCaptureTest : public ::testing::Test {
 protected:
  SystemAudioCaptureTest() {
    capture->onCallEnded = [this] { callEndedAt.push_back(loop.now()); };
  }

  SystemAudioCapture::Services services() {
    return {loop, loop, *control, [this](Event event) { events.push_back(std::move(event)); }, diagnostics.sink(),
            // The stream stop runs where it is asked for, so a held one shows as a hang.
            [](const std::function<void()>& work) { work(); }};
  }

  Expected<void, CaptureError> start(std::optional<std::string> appBundleId) {
    std::optional<Expected<void, CaptureError>> answer;
    capture->start(transcriber, "de-DE", std::move(appBundleId),
                   [&](Expected<void, CaptureError> failure) { answer = failure; });
    loop.runPending();
    EXPECT_TRUE(answer.has_value()) << "start never answered";
    return answer.value_or(Expected<void, CaptureError>());
  }

  bool stop() {
    bool stopped = false;
    capture->stop([&] { stopped = true; });
    loop.runPending();
    return stopped;
  }

  platform::fake::VirtualMainLoop loop;
  std::shared_ptr<CaptureControl> control = CaptureControl::make(loop);
  std::shared_ptr<AudioActivity> activity = std::make_shared<AudioActivity>(loop);
  std::shared_ptr<FakeSystemAudioInput> input = std::make_shared<FakeSystemAudioInput>();
  std::shared_ptr<ScriptedTranscriber> transcriber = std::make_shared<ScriptedTranscriber>();
  CollectedLines diagnostics;
  std::vector<Event> events;
  std::vector<double> callEndedAt;
  std::shared_ptr<SystemAudioCapture> capture = SystemAudioCapture::make(input, services(), activity);
};

TEST_F(SystemAudioCaptureTest, RecordsTheMeetingApplicationWhenItPlaysOrRunsElseTheWholeOutput) {
  static const struct {
    const char* name;
    std::optional<std::string> appBundleId;
    std::vector<std::string> playing;
    std::vector<std::string> running;
    std::optional<std::string> scopedTo;
    std::string line;
  } cases[] = {
      {"application playing", "us.zoom.xos", {"org.mozilla.firefox", "us.zoom.xos"}, {}, "us.zoom.xos",
       "[sysaudio] scoped to app us.zoom.xos\n"},
      {"application running silent", "us.zoom.xos", {"org.mozilla.firefox"}, {"org.mozilla.firefox", "us.zoom.xos"},
       "us.zoom.xos", "[sysaudio] scoped to app us.zoom.xos\n"},
      {"application neither playing nor running", "us.zoom.xos", {"org.mozilla.firefox"}, {"org.mozilla.firefox"},
       std::nullopt, "[sysaudio] whole-display capture (app us.zoom.xos not found)\n"},
      {"identifiers match exactly", "us.zoom", {"us.zoom.xos"}, {"us.zoom.xos"}, std::nullopt,
       "[sysaudio] whole-display capture (app us.zoom not found)\n"},
      {"no application named", std::nullopt, {"us.zoom.xos"}, {"us.zoom.xos"}, std::nullopt,
       "[sysaudio] whole-display capture (app nil not found)\n"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    platform::fake::VirtualMainLoop caseLoop;
    auto caseInput = std::make_shared<FakeSystemAudioInput>();
    caseInput->content = SystemAudioContent{true, testCase.playing, testCase.running};
    auto caseTranscriber = std::make_shared<ScriptedTranscriber>();
    CollectedLines lines;
    auto source = SystemAudioCapture::make(caseInput, {caseLoop, caseLoop, *control, {}, lines.sink()}, activity);
    std::optional<Expected<void, CaptureError>> answer;
    source->start(caseTranscriber, "de-DE", testCase.appBundleId,
                  [&](Expected<void, CaptureError> failure) { answer = failure; });
    caseLoop.runPending();

    ASSERT_TRUE(answer.has_value()) << "start never answered";
    ASSERT_TRUE(answer->hasValue());
    EXPECT_EQ(caseTranscriber->startedAs, std::make_pair(Speaker::others, std::string("de-DE")));
    ASSERT_TRUE(caseInput->startedScope.has_value());
    EXPECT_EQ(caseInput->startedScope->applicationBundleId, testCase.scopedTo);
    EXPECT_EQ(caseInput->startedFormat->sampleRate, 48000);
    EXPECT_EQ(caseInput->startedFormat->channelCount, 2);
    EXPECT_EQ(lines.lines(), (std::vector<std::string>{testCase.line, kStartedLine}));
  }
}

TEST_F(SystemAudioCaptureTest, StartFailuresComeFromTheContentTheTranscriberOrTheStream) {
  static const struct {
    const char* name;
    Expected<SystemAudioContent, platform::SystemAudioFailure> content;
    Expected<void, CaptureError> transcriberFailure;
    std::optional<Error> streamError;
    CaptureError failure;
    bool transcriberStarted;
  } cases[] = {
      {"sound server unreachable", platform::SystemAudioFailure{"cannot reach the sound server"}, {},
       std::nullopt, CaptureError::fromPlatform("cannot reach the sound server"), false},
      {"no output to record", SystemAudioContent{false, {}, {}}, {}, std::nullopt,
       CaptureError::noDisplayForSystemAudio(), false},
      {"transcriber fails", SystemAudioContent{true, {}, {}}, CaptureError::recognizerUnavailable(), std::nullopt,
       CaptureError::recognizerUnavailable(), true},
      {"stream fails", SystemAudioContent{true, {}, {}}, {}, Error("cannot open the recording stream"),
       CaptureError::fromPlatform("cannot open the recording stream"), true},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    platform::fake::VirtualMainLoop caseLoop;
    auto caseInput = std::make_shared<FakeSystemAudioInput>();
    caseInput->content = testCase.content;
    caseInput->startError = testCase.streamError;
    auto caseTranscriber = std::make_shared<ScriptedTranscriber>();
    caseTranscriber->startFailure = testCase.transcriberFailure;
    auto source = SystemAudioCapture::make(caseInput, {caseLoop, caseLoop, *control, {}, {}}, activity);
    std::optional<Expected<void, CaptureError>> answer;
    source->start(caseTranscriber, "en-US", "us.zoom.xos",
                  [&](Expected<void, CaptureError> failure) { answer = failure; });
    caseLoop.runPending();

    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(*answer, testCase.failure);
    EXPECT_EQ(caseTranscriber->startedAs.has_value(), testCase.transcriberStarted);
    EXPECT_FALSE(caseInput->recording());
    bool stopped = false;
    source->stop([&] { stopped = true; });
    caseLoop.runPending();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(caseInput->stopCount, 0) << "no stream to stop";
    EXPECT_EQ(caseTranscriber->stops, testCase.transcriberStarted ? 1 : 0);
  }
  EXPECT_EQ(CaptureError::noDisplayForSystemAudio().code, 200);
  EXPECT_EQ(CaptureError::noDisplayForSystemAudio().description(), "no display available for system audio capture");
}

TEST_F(SystemAudioCaptureTest, BuffersFromItsFloorUpCountAsHeardAndAllReachTheTranscriber) {
  ASSERT_EQ(start(std::nullopt), (Expected<void, CaptureError>()));
  static const struct {
    float level;
    bool heard;
  } cases[] = {{0.004F, true}, {0.0039F, false}, {0.0F, false}, {0.5F, true}};
  for (const auto& buffer : cases) {
    SCOPED_TRACE(buffer.level);
    activity->markActive();
    loop.advance(1);
    input->deliverConstant(buffer.level, 0.1);
    EXPECT_EQ(activity->idleSeconds(), buffer.heard ? 0.0 : 1.0);
    EXPECT_EQ(transcriber->firstSamples.back(), buffer.level);
  }
  EXPECT_EQ(transcriber->frames, 4 * 4800U);
}

TEST_F(SystemAudioCaptureTest, WhilePausedBuffersAreDroppedButKeepTheCaptureAlive) {
  ASSERT_EQ(start(std::nullopt), (Expected<void, CaptureError>()));
  control->set(true);
  loop.advance(1);
  input->deliverConstant(0.0F, 0.1);
  EXPECT_EQ(activity->idleSeconds(), 0.0);
  EXPECT_EQ(transcriber->frames, 0U);
}

TEST_F(SystemAudioCaptureTest, NobodyHeardEndsTheCallAfter600Seconds) {
  ASSERT_EQ(start("us.zoom.xos"), (Expected<void, CaptureError>()));
  loop.advance(599.9);
  EXPECT_TRUE(callEndedAt.empty());
  loop.advance(0.1);
  EXPECT_EQ(callEndedAt, std::vector<double>{600});
  EXPECT_EQ(diagnostics.lines().back(), "[capture] both sides silent 600s \xE2\x86\x92 call ended\n");
  loop.advance(3000);
  EXPECT_EQ(callEndedAt.size(), 1U) << "the call ends once";
}

TEST_F(SystemAudioCaptureTest, TheMeetingSilentWhileTheUserTalksEndsTheCallAtTheHardCap) {
  ASSERT_EQ(start("us.zoom.xos"), (Expected<void, CaptureError>()));
  loop.advance(30);
  input->deliverConstant(0.2F, 0.1);
  for (int second = 0; second < 1000 && callEndedAt.empty(); ++second) {
    loop.advance(1);
    activity->markActive();  // what the microphone does for every buffer of speech
  }
  EXPECT_EQ(callEndedAt, std::vector<double>{930});
  EXPECT_EQ(diagnostics.lines().back(), "[capture] others silent 900s (hard cap, mic ignored) \xE2\x86\x92 call ended\n");
}

TEST_F(SystemAudioCaptureTest, APausedHourWithoutAnyBufferNeverEndsTheCall) {
  ASSERT_EQ(start("us.zoom.xos"), (Expected<void, CaptureError>()));
  control->set(true);
  loop.advance(3600);
  EXPECT_TRUE(callEndedAt.empty());
}

TEST_F(SystemAudioCaptureTest, AStreamThatStopsByItselfIsReportedAsAFatalErrorAndTheCaptureStaysUp) {
  ASSERT_EQ(start(std::nullopt), (Expected<void, CaptureError>()));
  input->fail("lost the sound server (Connection terminated)");
  EXPECT_EQ(diagnostics.lines().back(),
            "[sysaudio] stream stopped with error: lost the sound server (Connection terminated)\n");
  ASSERT_EQ(events.size(), 1U);
  EXPECT_EQ(events.front(), Event::error(ErrorCode::captureFailed,
                                         "system audio stream failed: lost the sound server (Connection terminated)",
                                         true));
  EXPECT_EQ(input->stopCount, 0);
  EXPECT_EQ(transcriber->stops, 0);
}

TEST_F(SystemAudioCaptureTest, StopEndsTheWatchdogTheStreamAndTheTranscriberInThatOrder) {
  ASSERT_EQ(start(std::nullopt), (Expected<void, CaptureError>()));
  EXPECT_TRUE(stop());
  EXPECT_EQ(input->stopCount, 1);
  EXPECT_FALSE(input->recording());
  EXPECT_EQ(transcriber->stops, 1);
  loop.advance(5000);
  EXPECT_TRUE(callEndedAt.empty()) << "the watchdog outlived the stop";
  EXPECT_EQ(diagnostics.lines().back(), kStartedLine);
  EXPECT_TRUE(stop());
  EXPECT_EQ(input->stopCount, 1);
  EXPECT_EQ(transcriber->stops, 1);
}

TEST_F(SystemAudioCaptureTest, StopWhileTheTranscriberStartsMeansNothingIsEverRecorded) {
  transcriber->holdStart = true;
  std::optional<Expected<void, CaptureError>> answer;
  capture->start(transcriber, "de-DE", std::nullopt, [&](Expected<void, CaptureError> failure) { answer = failure; });
  loop.runPending();
  ASSERT_TRUE(transcriber->heldStart);
  EXPECT_TRUE(stop());

  transcriber->heldStart({});
  loop.runPending();
  ASSERT_TRUE(answer.has_value() && answer->failed());
  EXPECT_EQ(answer->error().description(), "the capture stopped before its audio started");
  EXPECT_FALSE(input->recording());
  loop.advance(5000);
  EXPECT_TRUE(callEndedAt.empty()) << "a watchdog runs for a capture that never started";
}

TEST_F(SystemAudioCaptureTest, AStreamStopThatHangsIsAbandonedAfterFiveSecondsAndTheTranscriberStillStops) {
  ASSERT_EQ(start(std::nullopt), (Expected<void, CaptureError>()));
  input->holdStop = true;
  bool stopped = false;
  capture->stop([&] { stopped = true; });
  loop.advance(4.9);
  EXPECT_FALSE(stopped);
  EXPECT_EQ(transcriber->stops, 0);
  loop.advance(0.1);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(transcriber->stops, 1);
  EXPECT_EQ(diagnostics.lines().back(), "[sysaudio] stopCapture timed out after 5s \xE2\x80\x94 abandoning stream\n");
  input->finishHeldStop();
  loop.runPending();
  EXPECT_EQ(transcriber->stops, 1) << "the late stream stop changes nothing";
}

TEST_F(SystemAudioCaptureTest, AStreamStopInTimeWritesNoTimeoutLine) {
  ASSERT_EQ(start(std::nullopt), (Expected<void, CaptureError>()));
  input->holdStop = true;
  bool stopped = false;
  capture->stop([&] { stopped = true; });
  loop.advance(1);
  input->finishHeldStop();
  loop.advance(10);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(diagnostics.lines().back(), kStartedLine);
}

}  // namespace
}  // namespace quillet::capture
