#include "quillet-capture/transcription/LegacyTranscriber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CollectedLines.h"
#include "RecordedChunks.h"
#include "TestAudio.h"
#include "platform/fake/FakeResampler.h"
#include "platform/fake/ScriptedSpeechRecognizer.h"
#include "platform/fake/VirtualMainLoop.h"
#include "quillet-capture/transcription/CumulativeTranscript.h"

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
using ::testing::IsEmpty;

TEST(CumulativeTranscriptTest, ReportsOnlyResultsThatAddSegmentsAndAlwaysTheFinalOne) {
  using Update = CumulativeTranscript::Update;
  static const struct {
    const char* description;
    SpeechResult result;
    std::optional<Update> update;
  } steps[] = {
      {"blank: nothing", {"  ", false, std::nullopt}, std::nullopt},
      {"first words", {"one two", false, std::nullopt}, Update{"one two", false}},
      {"three segments", {"one two three", false, std::nullopt}, Update{"one two three", false}},
      {"three segments again, reworded: dropped", {"won two three", false, std::nullopt}, std::nullopt},
      {"fewer segments: dropped", {"one", false, std::nullopt}, std::nullopt},
      {"the utterance settles with three, more than the one just seen", {"one two three", true, std::nullopt},
       Update{"one two three", false}},
      {"the next utterance extends the whole", {"four", false, std::nullopt}, Update{"one two three four", false}},
      {"and settles", {"four five", true, std::nullopt}, Update{"one two three four five", false}},
  };
  CumulativeTranscript transcript;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.description);
    const auto update = transcript.add(step.result);
    ASSERT_EQ(update.has_value(), step.update.has_value());
    if (update) {
      EXPECT_EQ(update->text, step.update->text);
      EXPECT_EQ(update->isFinal, step.update->isFinal);
    }
  }
  const auto final = transcript.finish();
  ASSERT_TRUE(final);
  EXPECT_EQ(final->text, "one two three four five");
  EXPECT_TRUE(final->isFinal) << "the final result is reported although it adds no segment";
}

TEST(CumulativeTranscriptTest, NoTextMeansNoFinalResult) {
  CumulativeTranscript transcript;
  EXPECT_FALSE(transcript.add({" ", true, std::nullopt}));
  EXPECT_FALSE(transcript.finish());
}

class LegacyHarness {
 public:
  std::shared_ptr<LegacyTranscriber> make() {
    return std::make_shared<LegacyTranscriber>(
        loop.monotonicNow(), LegacyTranscriber::Services{loop, recognizer, loop, FakeResampler::factory(),
                                                         chunks.writer(), diagnostics.sink(), testing::runAtOnce});
  }

  static Expected<void, CaptureError> start(LegacyTranscriber& transcriber, const std::string& locale = "en-US") {
    Expected<void, CaptureError> failure{CaptureError{"unset", -1, "start never completed"}};
    transcriber.start(Speaker::others, locale, [&](Expected<void, CaptureError> result) { failure = std::move(result); });
    return failure;
  }

  VirtualMainLoop loop;
  ScriptedSpeechRecognizer recognizer;
  CollectedLines diagnostics;
  RecordedChunks chunks;
};

TEST(LegacyTranscriberTest, ChunksStartAtZeroAndEndAtTheirArrival) {
  LegacyHarness harness;
  auto transcriber = harness.make();
  ASSERT_TRUE(LegacyHarness::start(*transcriber).hasValue());
  transcriber->consume(TestAudio::mono16k(100, 0.25f).buffer());
  EXPECT_EQ(harness.recognizer.streams().at(0)->pushed().size(), 1600u);

  const auto stream = harness.recognizer.streams().at(0);
  harness.loop.advance(1.5);
  stream->deliver({"good morning", false, SpeechTimeRange{0.2, 0.8}});
  harness.loop.advance(2.25);
  stream->deliver({"good morning everyone", true, SpeechTimeRange{0.2, 1.2}});
  stream->deliver({"let us", false, SpeechTimeRange{2.0, 0.5}});
  stream->deliver({"let", false, SpeechTimeRange{2.0, 0.6}});  // fewer segments, not final: dropped
  EXPECT_EQ(harness.chunks.chunks(),
            (std::vector<Chunk>{{Speaker::others, "good morning", 0, 1500, false},
                                {Speaker::others, "good morning everyone", 0, 3750, false},
                                {Speaker::others, "good morning everyone let us", 0, 3750, false}}));
}

TEST(LegacyTranscriberTest, StopTakesResultsForTwoHundredMillisecondsThenCancels) {
  LegacyHarness harness;
  harness.recognizer.streamsAnswerFinish = false;
  auto transcriber = harness.make();
  ASSERT_TRUE(LegacyHarness::start(*transcriber).hasValue());
  const auto stream = harness.recognizer.streams().at(0);
  stream->deliver({"hello", true, std::nullopt});

  bool stopped = false;
  transcriber->stop([&] { stopped = true; });
  EXPECT_TRUE(stream->finished());
  harness.loop.runPending();
  harness.loop.advance(0.19);
  EXPECT_FALSE(stopped);
  stream->end();  // the final result arrives within the wait
  harness.loop.advance(0.01);
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(stream->destroyed());
  EXPECT_EQ(harness.chunks.chunks(), (std::vector<Chunk>{{Speaker::others, "hello", 0, 0, false},
                                                          {Speaker::others, "hello", 0, 190, true}}));
}

TEST(LegacyTranscriberTest, ResultsAfterTheWaitAreDropped) {
  LegacyHarness harness;
  harness.recognizer.streamsAnswerFinish = false;
  auto transcriber = harness.make();
  ASSERT_TRUE(LegacyHarness::start(*transcriber).hasValue());
  const auto stream = harness.recognizer.streams().at(0);
  bool stopped = false;
  transcriber->stop([&] { stopped = true; });
  harness.loop.runPending();
  harness.loop.advance(0.2);
  ASSERT_TRUE(stopped);
  stream->deliver({"too late", true, std::nullopt});
  EXPECT_THAT(harness.chunks.chunks(), IsEmpty());
}

TEST(LegacyTranscriberTest, StartFailsWithTheRecognisersCodes) {
  {
    LegacyHarness harness;
    auto transcriber = harness.make();
    const auto failure = LegacyHarness::start(*transcriber, "xx-YY");
    ASSERT_TRUE(failure.failed());
    EXPECT_EQ(failure.error(), CaptureError::recognizerUnsupportedLocale("xx-YY"));
  }
  {
    LegacyHarness harness;
    harness.recognizer.streamFailure = Error("no decoder");
    auto transcriber = harness.make();
    const auto failure = LegacyHarness::start(*transcriber);
    ASSERT_TRUE(failure.failed());
    EXPECT_EQ(failure.error(), CaptureError::recognizerUnavailable());
  }
}

}  // namespace
}  // namespace quillet::capture
