#include "quillet-capture/sources/SilenceWatchdog.h"

#include <gtest/gtest.h>

#include "CollectedLines.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::capture {
namespace {

using testing::CollectedLines;

class SilenceWatchdogTest : public ::testing::Test {
 protected:
  SilenceWatchdogTest() { watchdog->start(); }

  // Advances virtual time in steps of `step` seconds up to `until`, running `eachStep` after each.
  void advanceUntil(double until, double step, const std::function<void()>& eachStep) {
    while (loop.now() + step <= until + 1e-9) {
      loop.advance(step);
      eachStep();
    }
  }

  platform::fake::VirtualMainLoop loop;
  std::shared_ptr<CaptureControl> control = CaptureControl::make(loop);
  std::shared_ptr<AudioActivity> bothSides = std::make_shared<AudioActivity>(loop);
  std::shared_ptr<AudioActivity> others = std::make_shared<AudioActivity>(loop);
  CollectedLines diagnostics;
  std::vector<double> endedAt;
  std::shared_ptr<SilenceWatchdog> watchdog = SilenceWatchdog::make(
      loop, *control, bothSides, others, diagnostics.sink(), [this] { endedAt.push_back(loop.now()); });
};

TEST_F(SilenceWatchdogTest, BothSidesSilentEndsTheCallAtTheFirstCheckAtOrAfter600Seconds) {
  loop.advance(2);
  bothSides->markActive();
  others->markActive();
  loop.advance(602.9);
  EXPECT_TRUE(endedAt.empty()) << "ended before 600 s of silence were checked";
  loop.advance(0.1);
  EXPECT_EQ(endedAt, std::vector<double>{605});
  EXPECT_EQ(diagnostics.lines(), std::vector<std::string>{"[capture] both sides silent 603s \xE2\x86\x92 call ended\n"});
  EXPECT_TRUE(watchdog->hasEnded());
}

TEST_F(SilenceWatchdogTest, MeetingSilentWhileTheUserTalksEndsTheCallAtTheHardCap) {
  advanceUntil(1000, 1, [this] { bothSides->markActive(); });
  EXPECT_EQ(endedAt, std::vector<double>{900});
  EXPECT_EQ(diagnostics.lines(),
            std::vector<std::string>{"[capture] others silent 900s (hard cap, mic ignored) \xE2\x86\x92 call ended\n"});
}

TEST_F(SilenceWatchdogTest, MeetingAudioKeepsTheCallGoingWhateverTheMicrophoneDoes) {
  // The system-audio source marks both activities for every buffer it hears.
  advanceUntil(3600, 1, [this] {
    others->markActive();
    bothSides->markActive();
  });
  EXPECT_TRUE(endedAt.empty());
  EXPECT_TRUE(diagnostics.lines().empty());
}

TEST_F(SilenceWatchdogTest, BothSidesRuleIsCheckedBeforeTheHardCap) {
  loop.advance(300);
  bothSides->markActive();
  loop.advance(600);
  EXPECT_EQ(endedAt, std::vector<double>{900});
  EXPECT_EQ(diagnostics.lines(), std::vector<std::string>{"[capture] both sides silent 600s \xE2\x86\x92 call ended\n"});
}

TEST_F(SilenceWatchdogTest, APausedHourNeverEndsTheCallEvenWithoutAnyBuffer) {
  control->set(true);
  loop.advance(3600);
  EXPECT_TRUE(endedAt.empty());
  control->set(false);
  // Silence counts from the last check made while paused.
  loop.advance(599);
  EXPECT_TRUE(endedAt.empty());
  loop.advance(1);
  EXPECT_EQ(endedAt, std::vector<double>{4200});
}

TEST_F(SilenceWatchdogTest, EndsTheCallOnlyOnceWhileSilenceGoesOn) {
  loop.advance(5000);
  EXPECT_EQ(endedAt.size(), 1U);
  EXPECT_EQ(diagnostics.lines().size(), 1U);
}

TEST_F(SilenceWatchdogTest, ACancelledWatchdogChecksNoMore) {
  watchdog->cancel();
  loop.advance(5000);
  EXPECT_TRUE(endedAt.empty());
}

TEST_F(SilenceWatchdogTest, WithoutTheSharedActivityItNeverEndsTheCall) {
  std::vector<double> ended;
  auto withoutActivity = SilenceWatchdog::make(loop, *control, nullptr, others, {}, [&] { ended.push_back(1); });
  withoutActivity->start();
  loop.advance(5000);
  EXPECT_TRUE(ended.empty());
}

}  // namespace
}  // namespace quillet::capture
