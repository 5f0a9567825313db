#include "platform/linux/pulse/ClockedSilence.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillet::platform::pulse {
namespace {

constexpr std::uint64_t kSecond = 1'000'000;

// What a recording handed over: each buffer's length, and whether it was all silence.
struct Delivered {
  std::vector<std::size_t> frames;
  bool allSilent = true;

  ClockedSilence::Deliver sink() {
    return [this](const AudioBuffer& buffer) {
      frames.push_back(buffer.frameCount);
      for (const float* channel : buffer.channels) {
        for (std::size_t frame = 0; frame < buffer.frameCount; ++frame) allSilent = allSilent && channel[frame] == 0.0F;
      }
    };
  }
  [[nodiscard]] std::size_t total() const {
    std::size_t sum = 0;
    for (const auto count : frames) sum += count;
    return sum;
  }
};

// 1 kHz, blocks of 100 frames (0.1 s), at most 0.3 s behind.
ClockedSilence makeSilence() { return ClockedSilence(AudioFormat{1000, 2}, 100, 0.3); }

TEST(ClockedSilenceTest, AQuietStretchIsFilledInBlocksUpToOneBlockBehindTheClock) {
  static const struct {
    const char* name;
    std::uint64_t now;
    std::size_t realFrames;
    bool audioWaiting;
    std::size_t silentFrames;
  } cases[] = {
      {"within the lag limit nothing is added", 300'000, 0, false, 0},
      {"past the limit, silence up to one block short of the clock", 1 * kSecond, 0, false, 900},
      {"real audio keeping pace needs nothing", 1 * kSecond, 950, false, 0},
      {"real audio that lags is topped up", 2 * kSecond, 1000, false, 900},
      {"nothing while real audio waits to be mixed", 5 * kSecond, 0, true, 0},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    auto silence = makeSilence();
    silence.start(0);
    silence.counted(testCase.realFrames);
    Delivered delivered;
    silence.fill(testCase.now, testCase.audioWaiting, false, delivered.sink());
    EXPECT_EQ(delivered.total(), testCase.silentFrames);
    EXPECT_TRUE(delivered.allSilent);
    for (const auto frames : delivered.frames) EXPECT_LE(frames, 100U);
    EXPECT_EQ(silence.framesDelivered(), testCase.realFrames + testCase.silentFrames);
  }
}

TEST(ClockedSilenceTest, AtTheEndTheRecordingIsBroughtUpToTheClockExactly) {
  auto silence = makeSilence();
  silence.start(10 * kSecond);
  silence.counted(4000);
  Delivered delivered;
  silence.fill(10 * kSecond + 4'250'000, false, true, delivered.sink());
  EXPECT_EQ(delivered.frames, (std::vector<std::size_t>{100, 100, 50}));
  EXPECT_EQ(silence.framesDelivered(), 4250U);
  // Asked again at the same instant, nothing more is due.
  silence.fill(10 * kSecond + 4'250'000, false, true, delivered.sink());
  EXPECT_EQ(delivered.total(), 250U);
}

}  // namespace
}  // namespace quillet::platform::pulse
