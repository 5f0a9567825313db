#include "quillet-dictate/waveform/WaveState.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"

namespace quillet::dictate {
namespace {

using std::chrono::system_clock;

// 2001-01-01 00:00:00 UTC is 31 years after the Unix epoch, 8 of them leap years.
constexpr system_clock::time_point kReferenceDate{std::chrono::hours(24 * (31 * 365 + 8))};

TEST(WaveStateTest, StartsStillWithNowInSecondsSinceTheReferenceDate) {
  struct Case {
    system_clock::time_point wallStart;
    double expectedNow;
  };
  const Case cases[] = {
      {kReferenceDate, 0.0},
      {kReferenceDate + std::chrono::milliseconds(1234500), 1234.5},
      {kReferenceDate - std::chrono::seconds(1), -1.0},
      // 2026-01-15 12:00 UTC: 25 years with 6 leap days, 14 more days and 12 hours.
      {platform::fake::VirtualMainLoop::defaultWallStart(), (25 * 365 + 6 + 14) * 86400.0 + 12 * 3600.0},
  };
  for (const auto& testCase : cases) {
    platform::fake::VirtualMainLoop loop(testCase.wallStart);
    const auto state = WaveState::create(loop, loop);
    EXPECT_DOUBLE_EQ(state->now.get(), testCase.expectedNow);
    EXPECT_EQ(state->visualEnergy, 0.0f);
    EXPECT_TRUE(state->lineBands.empty());
  }
}

TEST(WaveStateTest, EveryTickSixtyTimesASecondSetsNowToTheCurrentTime) {
  platform::fake::VirtualMainLoop loop(kReferenceDate);
  const auto state = WaveState::create(loop, loop);
  std::vector<double> ticks;
  auto subscription = state->now.observe([&](double now) { ticks.push_back(now); });

  loop.advance(0.0166);
  EXPECT_TRUE(ticks.empty()) << "no tick before 1/60 s";

  loop.advance(0.0001);
  for (int tick = 2; tick <= 60; ++tick) loop.advance(1.0 / 60);

  ASSERT_EQ(ticks.size(), 60u);
  for (std::size_t tick = 0; tick < ticks.size(); ++tick) {
    EXPECT_NEAR(ticks[tick], static_cast<double>(tick + 1) / 60, 1e-6) << "tick " << tick + 1;
  }
}

TEST(WaveStateTest, DroppingTheLastOwnerDestroysTheStateAndCancelsItsTimer) {
  platform::fake::VirtualMainLoop loop;
  auto state = WaveState::create(loop, loop);
  const std::weak_ptr<WaveState> observed = state;
  EXPECT_EQ(loop.activeTimerCount(), 1u);

  state.reset();

  EXPECT_TRUE(observed.expired()) << "the timer must hold the state weakly";
  EXPECT_EQ(loop.activeTimerCount(), 0u);
  loop.advance(1.0);
}

}  // namespace
}  // namespace quillet::dictate
