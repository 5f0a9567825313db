#include "quillet-capture/transcription/ModernTranscriber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "CollectedLines.h"
#include "RecordedChunks.h"
#include "TestAudio.h"
#include "platform/fake/FakeResampler.h"
#include "platform/fake/ScriptedSpeechRecognizer.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::capture {
namespace {

using platform::SpeechResult;
using platform::SpeechTimeRange;
using platform::fake::FakeResampler;
using platform::fake::ScriptedSpeechRecognizer;
using platform::fake::VirtualMainLoop;
using testing::CollectedLines;
using testing::RecordedChunks;
using testing::TestAudio;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

SpeechResult result(std::string text, bool isFinal, double start, double duration) {
  return {std::move(text), isFinal, SpeechTimeRange{start, duration}};
}

// A transcriber on scripted parts: a recogniser whose streams the test drives, an install lock that
// checks at once, virtual time for the deadlines, and recorded chunks and diagnostics.
class ModernHarness {
 public:
  ModernHarness() : installs(recognizer, diagnostics.sink(), testing::runAtOnce) {}

  std::shared_ptr<ModernTranscriber> make() {
    return std::make_shared<ModernTranscriber>(
        loop.monotonicNow(), ModernTranscriber::Services{recognizer, installs, loop, FakeResampler::factory(),
                                                         chunks.waitingWriter(), diagnostics.sink(), launcher});
  }

  // Starts `transcriber` and answers its failure, if any.
  static Expected<void, CaptureError> start(ModernTranscriber& transcriber, Speaker speaker = Speaker::you,
                                           const std::string& locale = "en-US") {
    Expected<void, CaptureError> failure{CaptureError{"unset", -1, "start never completed"}};
    transcriber.start(speaker, locale, [&](Expected<void, CaptureError> result) { failure = std::move(result); });
    return failure;
  }

  // Asks `transcriber` to stop and runs the main loop until it has, without moving virtual time.
  void stopAndWait(ModernTranscriber& transcriber) {
    bool stopped = false;
    transcriber.stop([&] { stopped = true; });
    ASSERT_TRUE(loop.runUntil([&] { return stopped; }));
  }

  // The one stream opened so far.
  [[nodiscard]] std::shared_ptr<platform::fake::ScriptedSpeechStream::Control> stream() const {
    const auto streams = recognizer.streams();
    EXPECT_EQ(streams.size(), 1u);
    return streams.empty() ? nullptr : streams.front();
  }

  [[nodiscard]] bool logged(const std::string& line) const {
    const auto lines = diagnostics.lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  VirtualMainLoop loop;
  // Where stream opening and finishing run; at once unless a test defers them.
  Deadline::Launcher launcher = testing::runAtOnce;
  ScriptedSpeechRecognizer recognizer;
  CollectedLines diagnostics;
  ModelInstallLock installs;
  RecordedChunks chunks;
};

TEST(ModernTranscriberTest, ResultsBecomeChunksInOrderWithTheirOwnTimes) {
  ModernHarness harness;
  auto transcriber = harness.make();
  ASSERT_TRUE(ModernHarness::start(*transcriber, Speaker::others).hasValue());
  transcriber->consume(TestAudio::mono16k(100, 0.1f).buffer());

  const auto stream = harness.stream();
  stream->deliver(result("hello", false, 0.5, 0.4));
  stream->deliver(result(" hello there\n", true, 0.5, 1.0));
  stream->deliver(result("next one", false, 2.0, 0.25));
  harness.stopAndWait(*transcriber);

  EXPECT_EQ(harness.chunks.chunks(), (std::vector<Chunk>{{Speaker::others, "hello", 500, 900, false},
                                                          {Speaker::others, "hello there", 500, 1500, true},
                                                          {Speaker::others, "next one", 2000, 2250, false}}));
}

TEST(ModernTranscriberTest, RangesConvertToTruncatedMilliseconds) {
  static const struct {
    const char* description;
    double start;
    double duration;
    std::optional<Chunk> chunk;  // nothing: no event
  } cases[] = {
      {"1.2345 s lasting 0.5 s", 1.2345, 0.5, Chunk{Speaker::you, "words", 1234, 1734, true}},
      {"at the very start", 0.0, 0.25, Chunk{Speaker::you, "words", 0, 250, true}},
      {"a start before zero is clamped, the end kept", -0.5, 1.0, Chunk{Speaker::you, "words", 0, 500, true}},
      {"a negative length ends where it starts", 2.0, -1.0, Chunk{Speaker::you, "words", 2000, 2000, true}},
      {"no finite start", std::numeric_limits<double>::quiet_NaN(), 1.0, std::nullopt},
      {"no finite length", 1.0, std::numeric_limits<double>::infinity(), std::nullopt},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    ModernHarness harness;
    auto transcriber = harness.make();
    ASSERT_TRUE(ModernHarness::start(*transcriber).hasValue());
    harness.stream()->deliver(result("words", true, testCase.start, testCase.duration));
    harness.stopAndWait(*transcriber);
    const auto chunks = harness.chunks.chunks();
    if (testCase.chunk) {
      EXPECT_EQ(chunks, std::vector<Chunk>{*testCase.chunk});
    } else {
      EXPECT_THAT(chunks, IsEmpty());
    }
  }
}

TEST(ModernTranscriberTest, BlankResultsAndResultsWithoutRangeGiveNoChunk) {
  ModernHarness harness;
  auto transcriber = harness.make();
  ASSERT_TRUE(ModernHarness::start(*transcriber).hasValue());
  const auto stream = harness.stream();
  stream->deliver(result("   ", false, 0, 1));
  stream->deliver(result("\n\t ", true, 0, 1));
  stream->deliver(result("", true, 0, 1));
  stream->deliver({"placed nowhere", true, std::nullopt});
  stream->deliver(result("kept", true, 1, 1));
  harness.stopAndWait(*transcriber);
  EXPECT_EQ(harness.chunks.chunks(), (std::vector<Chunk>{{Speaker::you, "kept", 1000, 2000, true}}));
}

TEST(ModernTranscriberTest, ConvertsEachFormatWithItsOwnConverterAndNeverBeforeStartOrAfterStop) {
  ModernHarness harness;
  auto transcriber = harness.make();
  transcriber->consume(TestAudio::mono16k(100, 0.5f).buffer());  // before start: dropped
  ASSERT_TRUE(ModernHarness::start(*transcriber).hasValue());
  // 48 kHz stereo, 16 kHz mono, then 48 kHz stereo again: the first converter is found again by its key.
  transcriber->consume(TestAudio::constant(48000, 4800, {0.5f, 0.5f}).buffer());
  transcriber->consume(TestAudio::mono16k(100, 0.25f).buffer());
  transcriber->consume(TestAudio::constant(48000, 4800, {0.5f, 0.5f}).buffer());
  harness.stopAndWait(*transcriber);
  transcriber->consume(TestAudio::mono16k(100, 0.5f).buffer());  // after stop: dropped

  const auto pushed = harness.stream()->pushed();
  ASSERT_EQ(pushed.size(), 3u * 1600u);
  EXPECT_EQ(pushed.front(), 16384);
  EXPECT_EQ(pushed[1600], 8192);
  EXPECT_EQ(pushed.back(), 16384);
  EXPECT_EQ(ModernTranscriber::converterKey({48000, 2}), "48000.0-2-1");
  EXPECT_TRUE(harness.logged("[transcriber:you] consume:first inFrames=4800 inFormat=48000.0Hz 2ch commonFormat=1\n"));
  EXPECT_TRUE(harness.logged("[transcriber:you] target format=16000.0Hz 1ch\n"));
  EXPECT_TRUE(harness.logged("[transcriber:you] results-task started, awaiting results\n"));
}

TEST(ModernTranscriberTest, BuffersNoConverterCanTakeAreDroppedWithALine) {
  ModernHarness harness;
  auto transcriber = harness.make();
  ASSERT_TRUE(ModernHarness::start(*transcriber).hasValue());
  transcriber->consume(TestAudio::constant(0, 100, {0.5f}).buffer());
  transcriber->consume(TestAudio::constant(0, 100, {0.5f}).buffer());
  EXPECT_THAT(harness.stream()->pushed(), IsEmpty());
  const auto lines = harness.diagnostics.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[transcriber:you] failed to create converter\n"), 2);
  harness.stopAndWait(*transcriber);
}

TEST(ModernTranscriberTest, StopPublishesTheFinalResultsBeforeItCompletes) {
  ModernHarness harness;
  harness.recognizer.streamFinishResults = {result("the last words", true, 3.0, 1.5)};
  auto transcriber = harness.make();
  ASSERT_TRUE(ModernHarness::start(*transcriber).hasValue());
  harness.stopAndWait(*transcriber);
  EXPECT_EQ(harness.chunks.chunks(), (std::vector<Chunk>{{Speaker::you, "the last words", 3000, 4500, true}}));
  EXPECT_TRUE(harness.stream()->finished());
  EXPECT_TRUE(harness.stream()->destroyed());
  for (const auto& line : harness.diagnostics.lines()) EXPECT_THAT(line, ::testing::Not(HasSubstr("[deadline]")));
}

TEST(ModernTranscriberTest, AnOwnerLettingGoRightAfterStopStillGetsTheLastResultsWithoutWaitingOutTheBound) {
  ModernHarness harness;
  harness.recognizer.streamsAnswerFinish = false;
  auto transcriber = harness.make();
  ASSERT_TRUE(ModernHarness::start(*transcriber).hasValue());
  transcriber->consume(TestAudio::mono16k(100, 0.1f).buffer());
  const auto stream = harness.stream();
  bool stopped = false;
  transcriber->stop([&] { stopped = true; });
  transcriber.reset();
  harness.loop.runPending();
  EXPECT_FALSE(stream->destroyed()) << "the stream went before it could finish";

  // The engine finishes a moment later, as a decoding thread does.
  stream->deliver(result("spoken just before stop", true, 1.0, 2.0));
  stream->end();
  ASSERT_TRUE(harness.loop.runUntil([&] { return stopped; }));
  EXPECT_EQ(harness.chunks.chunks(), (std::vector<Chunk>{{Speaker::you, "spoken just before stop", 1000, 3000, true}}));
  EXPECT_TRUE(stream->destroyed());
  for (const auto& line : harness.diagnostics.lines()) EXPECT_THAT(line, ::testing::Not(HasSubstr("[deadline]")));
}

TEST(ModernTranscriberTest, OpeningRunsAwayFromTheCallerAndAStreamOpenedAfterTheStopIsReleasedAtOnce) {
  ModernHarness harness;
  std::vector<std::function<void()>> deferred;
  harness.launcher = [&deferred](std::function<void()> work) { deferred.push_back(std::move(work)); };
  auto transcriber = harness.make();
  std::optional<Expected<void, CaptureError>> started;
  transcriber->start(Speaker::you, "en-US", [&](Expected<void, CaptureError> failure) { started = failure; });
  EXPECT_FALSE(started.has_value());
  EXPECT_TRUE(harness.recognizer.streams().empty()) << "the stream was opened on the caller's thread";
  ASSERT_EQ(deferred.size(), 1U);

  bool stopped = false;
  transcriber->stop([&] { stopped = true; });
  ASSERT_TRUE(harness.loop.runUntil([&] { return stopped; }));

  std::exchange(deferred, {}).front()();
  ASSERT_TRUE(started.has_value() && started->failed());
  EXPECT_EQ(started->error().description(), "the transcriber was stopped before its stream opened");
  ASSERT_EQ(harness.recognizer.streams().size(), 1U);
  EXPECT_TRUE(harness.stream()->destroyed());
  transcriber->consume(TestAudio::mono16k(100, 0.1f).buffer());
  EXPECT_TRUE(harness.stream()->pushed().empty());
}

TEST(ModernTranscriberTest, AFinalisationOverFiveSecondsIsAbandoned) {
  ModernHarness harness;
  harness.recognizer.streamsAnswerFinish = false;
  auto transcriber = harness.make();
  ASSERT_TRUE(ModernHarness::start(*transcriber).hasValue());
  bool stopped = false;
  transcriber->stop([&] { stopped = true; });
  harness.loop.runPending();
  harness.loop.advance(4.9);
  EXPECT_FALSE(stopped);
  EXPECT_FALSE(harness.logged("[deadline] transcriber:you finalize did not finish in 5s — abandoning it (RULE 6)\n"));
  harness.loop.advance(0.1);
  ASSERT_TRUE(harness.loop.runUntil([&] { return stopped; }));
  EXPECT_TRUE(harness.logged("[deadline] transcriber:you finalize did not finish in 5s — abandoning it (RULE 6)\n"));
  EXPECT_TRUE(harness.stream()->destroyed());
}

TEST(ModernTranscriberTest, ADrainOverThreeSecondsIsCancelledAndLaterResultsAreDropped) {
  ModernHarness harness;
  auto transcriber = harness.make();
  ASSERT_TRUE(ModernHarness::start(*transcriber).hasValue());
  const auto stream = harness.stream();
  harness.chunks.holdWrites();
  stream->deliver(result("stuck in the writer", false, 0, 1));
  stream->deliver(result("never written", true, 0, 2));
  ASSERT_TRUE(harness.chunks.waitForCount(1));

  bool stopped = false;
  transcriber->stop([&] { stopped = true; });
  // The stream ends at once, so the drain begins (its timer beside the finalisation's), while the
  // publisher's queue is still busy with the held write.
  ASSERT_TRUE(harness.loop.runUntil([&] { return harness.loop.activeTimerCount() >= 2; }));
  harness.loop.advance(2.9);
  EXPECT_FALSE(stopped);
  harness.loop.advance(0.1);
  ASSERT_TRUE(harness.loop.runUntil([&] { return stopped; }));
  EXPECT_TRUE(harness.logged("[deadline] transcriber:you results drain did not finish in 3s — abandoning it (RULE 6)\n"));

  harness.chunks.release();
  transcriber.reset();  // waits for the publisher's queue, which must skip what was cancelled
  EXPECT_EQ(harness.chunks.chunks(), (std::vector<Chunk>{{Speaker::you, "stuck in the writer", 0, 1000, false}}));
}

TEST(ModernTranscriberTest, AStreamFailureIsLoggedAndEndsTheChunks) {
  ModernHarness harness;
  auto transcriber = harness.make();
  ASSERT_TRUE(ModernHarness::start(*transcriber, Speaker::others).hasValue());
  transcriber->consume(TestAudio::mono16k(100, 0.1f).buffer());
  const auto stream = harness.stream();
  stream->deliver(result("before", true, 0, 1));
  stream->end(Error("decoder exploded"));
  stream->deliver(result("after", true, 1, 1));
  harness.stopAndWait(*transcriber);
  EXPECT_EQ(harness.chunks.chunks(), (std::vector<Chunk>{{Speaker::others, "before", 0, 1000, true}}));
  EXPECT_TRUE(harness.logged("[transcriber:others] results stream ended: decoder exploded\n"));
  EXPECT_TRUE(harness.logged("[transcriber:others] result:first isFinal=true textLen=6 range=0.000+1.000s\n"));
}

TEST(ModernTranscriberTest, StartFailsWhenTheModelIsMissingOrTheStreamCannotOpen) {
  {
    ModernHarness harness;
    harness.recognizer.locales = {"en-US"};
    auto transcriber = harness.make();
    const auto failure = ModernHarness::start(*transcriber, Speaker::you, "fr-FR");
    ASSERT_TRUE(failure.failed());
    EXPECT_EQ(failure.error().description(), "no speech model is installed for fr-FR; install the scripted model fr-FR");
    EXPECT_THAT(harness.recognizer.streams(), IsEmpty());
  }
  {
    ModernHarness harness;
    harness.recognizer.streamFailure = Error("the engine would not start");
    auto transcriber = harness.make();
    const auto failure = ModernHarness::start(*transcriber);
    ASSERT_TRUE(failure.failed());
    EXPECT_EQ(failure.error().description(), "the engine would not start");
    transcriber->consume(TestAudio::mono16k(100, 0.1f).buffer());
    harness.stopAndWait(*transcriber);
  }
}

}  // namespace
}  // namespace quillet::capture
