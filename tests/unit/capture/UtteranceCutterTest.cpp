#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "quillet-capture/transcription/UtteranceCutter.h"

namespace quillet::capture {
namespace {

// `count` blocks of `milliseconds` each, every sample `level`.
struct BlockRun {
  int count = 1;
  int milliseconds = 100;
  std::int16_t level = 0;
};

// A piece as the test sees it: after which block (0-based) it came out, how long, where it started.
struct Cut {
  int afterBlock = -1;
  std::size_t sampleCount = 0;
  std::int64_t startMs = 0;
  bool operator==(const Cut&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Cut& cut) {
  return out << "{after block " << cut.afterBlock << ", " << cut.sampleCount << " samples, start " << cut.startMs
             << "}";
}

constexpr std::int16_t kLoud = 3000;
constexpr std::int16_t kQuiet = 20;
constexpr ChunkingSettings kDefaults{};

TEST(UtteranceCutterTest, CutsByPauseLengthAndSilence) {
  static const struct {
    const char* name;
    ChunkingSettings settings;
    std::vector<BlockRun> blocks;
    std::vector<Cut> cuts;
    std::optional<Cut> atStop;  // what the final flush hands out (afterBlock unused)
  } cases[] = {
      {"continuous speech is cut at the first block that reaches 25 s",
       kDefaults,
       {{260, 100, kLoud}},
       {{249, 400000, 0}},
       Cut{-1, 16000, 25000}},
      {"1 s of speech and 600 ms of silence are cut at the end of the silence, silence included",
       kDefaults,
       {{10, 100, kLoud}, {6, 100, kQuiet}, {3, 100, kLoud}},
       {{15, 25600, 0}},
       Cut{-1, 4800, 1600}},
      {"599 ms of silence do not end an utterance",
       kDefaults,
       {{10, 100, kLoud}, {5, 100, kQuiet}, {1, 99, kQuiet}},
       {},
       Cut{-1, 25584, 0}},
      {"a 0.3 s utterance waits until the piece, silence included, reaches 1 s",
       kDefaults,
       {{3, 100, kLoud}, {8, 100, kQuiet}},
       {{9, 16000, 0}},
       std::nullopt},
      {"speech resets the trailing silence",
       kDefaults,
       {{10, 100, kLoud}, {5, 100, kQuiet}, {1, 100, kLoud}, {5, 100, kQuiet}},
       {},
       Cut{-1, 33600, 0}},
      {"silence alone is discarded at 25 s and the next block starts the next piece",
       kDefaults,
       {{260, 100, kQuiet}, {1, 100, kLoud}},
       {},
       Cut{-1, 17600, 25000}},
      {"a block whose mean equals the level is speech, one below it silence",
       {600, 1000, 25000, 350},
       {{10, 100, 350}, {6, 100, 349}},
       {{15, 25600, 0}},
       std::nullopt},
      {"with the level clamped to 32767 even loud speech is silence",
       {600, 1000, 25000, 32767},
       {{16, 100, 20000}},
       {},
       std::nullopt},
      {"a block of -32768 counts as 32768 and stays speech under the clamped level",
       {600, 1000, 25000, 32767},
       {{10, 100, -32768}, {6, 100, 0}},
       {{15, 25600, 0}},
       std::nullopt},
      {"shorter pauses and pieces when configured",
       {200, 500, 25000, 350},
       {{5, 100, kLoud}, {2, 100, kQuiet}, {2, 100, kLoud}},
       {{6, 11200, 0}},
       Cut{-1, 3200, 700}},
      {"a zero maximum hands out every block alone",
       {600, 1000, 0, 350},
       {{3, 50, kLoud}},
       {{0, 800, 0}, {1, 800, 50}, {2, 800, 100}},
       std::nullopt},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    UtteranceCutter cutter(testCase.settings);
    std::vector<Cut> cuts;
    int blockIndex = 0;
    std::int64_t arrivalMs = 0;
    for (const BlockRun& run : testCase.blocks) {
      const std::vector<std::int16_t> block(std::size_t(run.milliseconds) * 16, run.level);
      for (int repeat = 0; repeat < run.count; ++repeat, ++blockIndex) {
        if (auto piece = cutter.append(block, arrivalMs)) {
          cuts.push_back({blockIndex, piece->samples.size(), piece->startMs});
        }
        arrivalMs += run.milliseconds;
      }
    }
    EXPECT_EQ(cuts, testCase.cuts);

    const auto last = cutter.flush();
    ASSERT_EQ(last.has_value(), testCase.atStop.has_value());
    if (last) {
      EXPECT_EQ((Cut{-1, last->samples.size(), last->startMs}), *testCase.atStop);
    }
    EXPECT_FALSE(cutter.flush()) << "a flush empties the cutter";
  }
}

TEST(UtteranceCutterTest, PieceHoldsTheSamplesInArrivalOrder) {
  UtteranceCutter cutter(kDefaults);
  const std::vector<std::int16_t> first{1000, -1000, 1000};
  const std::vector<std::int16_t> second{-7, 7};
  EXPECT_FALSE(cutter.append(first, 40));
  EXPECT_FALSE(cutter.append(second, 90));
  const auto piece = cutter.flush();
  ASSERT_TRUE(piece);
  EXPECT_EQ(piece->samples, (std::vector<std::int16_t>{1000, -1000, 1000, -7, 7}));
  EXPECT_EQ(piece->startMs, 40);
}

TEST(UtteranceCutterTest, MeanAbsoluteUsesIntegerDivision) {
  static const struct {
    std::vector<std::int16_t> block;
    std::int64_t expected;
  } cases[] = {
      {{}, 0}, {{1, -1}, 1}, {{3, 4}, 3}, {{-32768}, 32768}, {{-32768, 32767}, 32767}, {{350, -350, 350, -350}, 350},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(UtteranceCutter::meanAbsolute(testCase.block), testCase.expected)
        << ::testing::PrintToString(testCase.block);
  }
}

TEST(UtteranceCutterTest, DurationCountsWholeMilliseconds) {
  EXPECT_EQ((Utterance{std::vector<std::int16_t>(16000), 0}.durationMs()), 1000);
  EXPECT_EQ((Utterance{std::vector<std::int16_t>(15), 0}.durationMs()), 0);
  EXPECT_EQ((Utterance{std::vector<std::int16_t>(8015), 0}.durationMs()), 500);
}

}  // namespace
}  // namespace quillet::capture
