#include "quillet-capture/transcription/BufferedBatchTranscriber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "CollectedLines.h"
#include "RecordedChunks.h"
#include "TestAudio.h"
#include "platform/fake/FakeResampler.h"
#include "platform/fake/ScriptedSpeechRecognizer.h"
#include "platform/fake/VirtualMainLoop.h"
#include "quillet-capture/transcription/OverlapDeduplicator.h"
#include "quillet-capture/transcription/WindowTranscript.h"

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
using Script = ScriptedSpeechRecognizer::Script;

TEST(OverlapDeduplicatorTest, RemovesTheWordsTheOverlapRepeats) {
  static const struct {
    const char* description;
    std::vector<std::string> previous;  // the previous window's segments
    std::vector<std::string> next;
    std::vector<std::string> kept;
  } cases[] = {
      {"the repeated words go", {"and then we said"}, {"we said that the budget"}, {"that the budget"}},
      {"case is ignored", {"and then we said"}, {"We Said that"}, {"that"}},
      {"punctuation counts", {"and then we said"}, {"said, that"}, {"said, that"}},
      {"nothing repeated", {"and then we said"}, {"the budget"}, {"the budget"}},
      {"the longest match wins", {"we said we said"}, {"we said we said again"}, {"again"}},
      {"words split at line feeds too", {"one two\nthree"}, {"two\nthree four"}, {"four"}},
      {"removal runs across segments, emptied ones go", {"a b c"}, {"b", "c d", "e"}, {"d", "e"}},
      {"at most the last 8 words are compared",
       {"w1 w2 w3 w4 w5 w6 w7 w8 w9"},
       {"w1 w2 w3 w4 w5 w6 w7 w8 w9 w10"},
       {"w1 w2 w3 w4 w5 w6 w7 w8 w9 w10"}},
      {"all 8 remembered words can go", {"w1 w2 w3 w4 w5 w6 w7 w8 w9"}, {"w2 w3 w4 w5 w6 w7 w8 w9 w10"}, {"w10"}},
      {"no previous window", {}, {"we said"}, {"we said"}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    OverlapDeduplicator deduplicator;
    std::vector<TranscriptSegment> previous;
    for (const auto& text : testCase.previous) previous.push_back({text, -1, -1});
    (void)deduplicator.dedup(previous);
    std::vector<TranscriptSegment> next;
    for (std::size_t index = 0; index < testCase.next.size(); ++index) {
      next.push_back({testCase.next[index], std::int64_t(index) * 1000, std::int64_t(index) * 1000 + 500});
    }
    std::vector<std::string> kept;
    for (const auto& segment : deduplicator.dedup(next)) kept.push_back(segment.text);
    EXPECT_EQ(kept, testCase.kept);
  }
}

TEST(OverlapDeduplicatorTest, KeepsSegmentTimesAndTheTailOfAWindowWithWords) {
  OverlapDeduplicator deduplicator;
  (void)deduplicator.dedup({{"and then we said", 0, 900}});
  EXPECT_EQ(deduplicator.dedup({{"we said", 100, 400}, {"that", 500, 700}}),
            (std::vector<TranscriptSegment>{{"that", 500, 700}}));
  EXPECT_THAT(deduplicator.dedup({{" \n ", 0, 10}}), IsEmpty());
  EXPECT_EQ(deduplicator.tailWords(), (std::vector<std::string>{"we", "said", "that"}))
      << "a window without words leaves the tail as it was";
}

TEST(WindowTranscriptTest, KeepsSettledSegmentsElseTheLongestProvisionalText) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  static const struct {
    const char* description;
    std::vector<SpeechResult> results;
    std::vector<TranscriptSegment> segments;
  } cases[] = {
      {"settled segments in milliseconds, blank ones dropped",
       {{"hello", false, SpeechTimeRange{0, 1}},
        {"hello there ", true, SpeechTimeRange{0.5, 1.2}},
        {"  ", true, SpeechTimeRange{2, 1}},
        {"again", true, SpeechTimeRange{3.0005, 0.25}}},
       {{"hello there ", 500, 1700}, {"again", 3000, 3250}}},
      {"unknown times", {{"a", true, std::nullopt}, {"b", true, SpeechTimeRange{nan, 1}}, {"c", true, SpeechTimeRange{1, nan}}},
       {{"a", -1, -1}, {"b", -1, -1}, {"c", 1000, -1}}},
      {"only provisional text: the longest, over the whole window",
       {{"the", false, std::nullopt}, {" the budget ", false, std::nullopt}, {"the bud", false, std::nullopt}},
       {{"the budget", -1, -1}}},
      {"nothing at all", {{" ", false, std::nullopt}}, {}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    WindowTranscript transcript;
    for (const auto& result : testCase.results) transcript.add(result);
    EXPECT_EQ(transcript.segments(), testCase.segments);
  }
}

TEST(BufferedBatchTranscriberTest, PlacesSegmentsInCaptureTime) {
  static const struct {
    const char* description;
    TranscriptSegment segment;
    std::int64_t startMs, endMs;
    std::int64_t start, end;
  } cases[] = {
      {"inside the window", {"x", 500, 1700}, 30000, 45000, 30500, 31700},
      {"cut at the window's end", {"x", 14000, 16000}, 30000, 45000, 44000, 45000},
      {"up to 2 s past the window keeps its start", {"x", 14000, 17000}, 30000, 45000, 44000, 45000},
      {"further past: over the whole window", {"x", 14000, 17001}, 30000, 45000, 30000, 45000},
      {"unknown times: over the whole window", {"x", -1, -1}, 30000, 45000, 30000, 45000},
      {"empty range: over the whole window", {"x", 800, 800}, 30000, 45000, 30000, 45000},
      {"a window starting before zero", {"x", -1, -1}, -1000, 14000, 0, 14000},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    EXPECT_EQ(BufferedBatchTranscriber::placed(Speaker::others, testCase.segment, testCase.startMs, testCase.endMs),
              (Chunk{Speaker::others, "x", testCase.start, testCase.end, true}));
  }
}

class BatchHarness {
 public:
  std::shared_ptr<BufferedBatchTranscriber> make() {
    return std::make_shared<BufferedBatchTranscriber>(
        loop.monotonicNow(), BufferedBatchTranscriber::Services{loop, recognizer, FakeResampler::factory(),
                                                                chunks.waitingWriter(), diagnostics.sink()});
  }

  static void start(BufferedBatchTranscriber& transcriber) {
    Expected<void, CaptureError> failure{CaptureError{}};
    transcriber.start(Speaker::you, "en-US", [&](Expected<void, CaptureError> result) { failure = std::move(result); });
    ASSERT_TRUE(failure.hasValue()) << failure.error().description();
  }

  // Feeds `milliseconds` of 16 kHz audio at `level` in 100 ms buffers, each arriving 100 ms after the last.
  void feed(BufferedBatchTranscriber& transcriber, int milliseconds, float level) {
    for (int fed = 0; fed < milliseconds; fed += 100) {
      transcriber.consume(TestAudio::mono16k(std::size_t(std::min(100, milliseconds - fed)), level).buffer());
      loop.advance(0.1);
    }
  }

  static void stopAndWait(BufferedBatchTranscriber& transcriber) {
    std::promise<void> stopped;
    transcriber.stop([&] { stopped.set_value(); });
    stopped.get_future().wait();
  }

  // Waits (in real time) until the window in flight has been recognised.
  static bool waitForWindow(const BufferedBatchTranscriber& transcriber) {
    for (int attempt = 0; attempt < 20000 && transcriber.windowInFlight(); ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return !transcriber.windowInFlight();
  }

  VirtualMainLoop loop;
  ScriptedSpeechRecognizer recognizer;
  CollectedLines diagnostics;
  RecordedChunks chunks;
};

TEST(BufferedBatchTranscriberTest, CutsFifteenSecondWindowsThatOverlapByOneSecond) {
  BatchHarness harness;
  harness.recognizer.enqueue({{{"first window", true, std::nullopt}}});
  harness.recognizer.enqueue({{{"second window", true, std::nullopt}}});
  auto transcriber = harness.make();
  BatchHarness::start(*transcriber);
  EXPECT_EQ(harness.diagnostics.lines(),
            (std::vector<std::string>{"[buffered:you] start fmt=16000.0Hz window=15.0s overlap=1.0s\n"}));

  harness.feed(*transcriber, 14000, 0.1f);
  harness.feed(*transcriber, 900, 0.5f);
  EXPECT_THAT(harness.recognizer.streams(), IsEmpty()) << "239999 samples are not a window";
  harness.feed(*transcriber, 100, 0.5f);  // sample 240000 arrives at 14.9 s
  ASSERT_TRUE(harness.chunks.waitForCount(1));
  ASSERT_TRUE(BatchHarness::waitForWindow(*transcriber));
  ASSERT_EQ(harness.recognizer.streams().at(0)->pushed().size(), 240000u);
  EXPECT_EQ(harness.chunks.chunks().at(0), (Chunk{Speaker::you, "first window", 0, 14900, true}));

  harness.feed(*transcriber, 14000, 0.25f);  // with the kept second: another 15 s
  ASSERT_TRUE(harness.chunks.waitForCount(2));
  const auto second = harness.recognizer.streams().at(1)->pushed();
  ASSERT_EQ(second.size(), 240000u);
  EXPECT_EQ(second.front(), 16384) << "the next window begins with the last second of the one before";
  EXPECT_EQ(second[15999], 16384);
  EXPECT_EQ(second[16000], 8192);
  EXPECT_EQ(harness.chunks.chunks().at(1), (Chunk{Speaker::you, "second window", 13900, 28900, true}));
  BatchHarness::stopAndWait(*transcriber);
}

TEST(BufferedBatchTranscriberTest, StopRecognisesWhatIsLeftFromThreeTenthsOfASecond) {
  static const struct {
    std::size_t samples;
    bool recognised;
  } cases[] = {{3200, false}, {4799, false}, {4800, true}, {16000, true}};
  for (const auto& testCase : cases) {
    SCOPED_TRACE(std::to_string(testCase.samples) + " samples");
    BatchHarness harness;
    harness.recognizer.streamFinishResults = {{"the rest", true, SpeechTimeRange{0.1, 0.2}}};
    auto transcriber = harness.make();
    BatchHarness::start(*transcriber);
    harness.loop.advance(2.0);
    transcriber->consume(TestAudio::constant(16000, testCase.samples, {0.1f}).buffer());
    harness.loop.advance(1.0);
    BatchHarness::stopAndWait(*transcriber);
    EXPECT_EQ(harness.recognizer.streams().size(), testCase.recognised ? 1u : 0u);
    if (testCase.recognised) {
      EXPECT_EQ(harness.chunks.chunks(), (std::vector<Chunk>{{Speaker::you, "the rest", 100, 300, true}}));
    } else {
      EXPECT_THAT(harness.chunks.chunks(), IsEmpty());
    }
  }
}

TEST(BufferedBatchTranscriberTest, StopWaitsForTheWindowInFlightAndRemovesTheOverlapInOrder) {
  BatchHarness harness;
  harness.recognizer.enqueue({{{"and then we said", true, std::nullopt}}});
  harness.recognizer.enqueue({{{"we said that the budget", true, SpeechTimeRange{0.2, 1.0}}}});
  auto transcriber = harness.make();
  BatchHarness::start(*transcriber);
  harness.feed(*transcriber, 15000, 0.1f);
  harness.feed(*transcriber, 500, 0.1f);
  BatchHarness::stopAndWait(*transcriber);
  EXPECT_EQ(harness.chunks.chunks(), (std::vector<Chunk>{{Speaker::you, "and then we said", 0, 14900, true},
                                                          {Speaker::you, "that the budget", 14100, 15100, true}}));
}

TEST(BufferedBatchTranscriberTest, AFailedWindowIsLostAndTheNextProceeds) {
  BatchHarness harness;
  harness.recognizer.enqueue({{}, Error("decoder failed")});
  harness.recognizer.enqueue({{{"still here", true, std::nullopt}}});
  auto transcriber = harness.make();
  BatchHarness::start(*transcriber);
  harness.feed(*transcriber, 15000, 0.1f);
  ASSERT_TRUE(BatchHarness::waitForWindow(*transcriber));
  harness.feed(*transcriber, 1000, 0.1f);
  BatchHarness::stopAndWait(*transcriber);
  EXPECT_EQ(harness.diagnostics.lines().back(), "[buffered:you] finalize error: decoder failed\n");
  ASSERT_EQ(harness.chunks.chunks().size(), 1u);
  EXPECT_EQ(harness.chunks.chunks().at(0).text, "still here");
}

TEST(BufferedBatchTranscriberTest, StartFailsWithoutTheLocalesModel) {
  BatchHarness harness;
  harness.recognizer.locales = {"en-GB"};
  auto transcriber = harness.make();
  Expected<void, CaptureError> failure;
  transcriber->start(Speaker::others, "en-US", [&](Expected<void, CaptureError> result) { failure = std::move(result); });
  ASSERT_TRUE(failure.failed());
  EXPECT_EQ(failure.error().description(), "no speech model is installed for en-US; install the scripted model en-US");
}

}  // namespace
}  // namespace quillet::capture
