#include "platform/fake/VirtualMainLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace quillet::platform::fake {
namespace {

TEST(VirtualMainLoopTest, TwoHourTimerFiresWhenVirtualTimeReachesIt) {
  VirtualMainLoop loop;
  bool fired = false;
  loop.after(7200, [&] { fired = true; });

  const auto realStart = std::chrono::steady_clock::now();
  loop.advance(7199.999);
  EXPECT_FALSE(fired);
  loop.advance(0.001);
  EXPECT_TRUE(fired);
  EXPECT_DOUBLE_EQ(loop.now(), 7200.0);
  // Virtual time must not be real time: a real wait would take two hours.
  EXPECT_LT(std::chrono::steady_clock::now() - realStart, std::chrono::minutes(1));
}

TEST(VirtualMainLoopTest, TimersFireInDueOrderAndSeeTheirOwnTime) {
  VirtualMainLoop loop;
  std::vector<std::string> fired;
  loop.after(0.6, [&] { fired.push_back("0.6@" + std::to_string(loop.now())); });
  loop.after(0.35, [&] { fired.push_back("0.35@" + std::to_string(loop.now())); });
  loop.after(0.35, [&] { fired.push_back("0.35 second@" + std::to_string(loop.now())); });
  loop.advance(1.0);
  EXPECT_EQ(fired, (std::vector<std::string>{"0.35@" + std::to_string(0.35), "0.35 second@" + std::to_string(0.35),
                                             "0.6@" + std::to_string(0.6)}));
  EXPECT_DOUBLE_EQ(loop.now(), 1.0);
}

TEST(VirtualMainLoopTest, RepeatingTimerFiresEachIntervalUntilCancelled) {
  VirtualMainLoop loop;
  int ticks = 0;
  Timer timer = loop.every(1.5, [&] { ++ticks; });
  loop.advance(4.4);
  EXPECT_EQ(ticks, 2);
  EXPECT_TRUE(timer.isValid());
  timer.cancel();
  EXPECT_FALSE(timer.isValid());
  loop.advance(100);
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(loop.activeTimerCount(), 0u);
}

TEST(VirtualMainLoopTest, CancelledOneShotNeverFiresAndFiredOneIsNoLongerValid) {
  VirtualMainLoop loop;
  bool cancelledFired = false;
  bool keptFired = false;
  Timer cancelled = loop.after(45, [&] { cancelledFired = true; });
  Timer kept = loop.after(45, [&] { keptFired = true; });
  cancelled.cancel();
  loop.advance(45);
  EXPECT_FALSE(cancelledFired);
  EXPECT_TRUE(keptFired);
  EXPECT_FALSE(kept.isValid());
}

TEST(VirtualMainLoopTest, TimerMayCancelItselfAndScheduleAnother) {
  VirtualMainLoop loop;
  int ticks = 0;
  bool followUp = false;
  Timer timer;
  timer = loop.every(1, [&] {
    if (++ticks == 3) {
      timer.cancel();
      loop.after(600, [&] { followUp = true; });
    }
  });
  loop.advance(602);
  EXPECT_FALSE(followUp);
  loop.advance(1);
  EXPECT_EQ(ticks, 3);
  EXPECT_TRUE(followUp);
}

TEST(VirtualMainLoopTest, PostedBlocksRunInOrderBeforeTimeMoves) {
  VirtualMainLoop loop;
  std::vector<int> order;
  loop.post([&] {
    order.push_back(1);
    loop.post([&] { order.push_back(3); });
  });
  loop.post([&] { order.push_back(2); });
  loop.after(0, [&] { order.push_back(4); });
  loop.runPending();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_DOUBLE_EQ(loop.now(), 0.0);
}

TEST(VirtualMainLoopTest, RunUntilWaitsForBlocksPostedFromOtherThreads) {
  VirtualMainLoop loop;
  bool delivered = false;
  std::thread worker([&] { loop.post([&] { delivered = true; }); });
  EXPECT_TRUE(loop.runUntil([&] { return delivered; }));
  worker.join();
  EXPECT_FALSE(loop.runUntil([] { return false; }, std::chrono::milliseconds(20)));
}

TEST(VirtualMainLoopTest, RunJumpsToTimersAndReturnsTheQuitStatus) {
  VirtualMainLoop loop;
  loop.after(8, [&] { loop.quit(0); });
  loop.after(2.5, [&] { loop.post([] {}); });
  EXPECT_EQ(loop.run(), 0);
  EXPECT_DOUBLE_EQ(loop.now(), 8.0);
}

TEST(VirtualMainLoopTest, ClocksFollowVirtualTime) {
  const auto start = VirtualMainLoop::defaultWallStart();
  VirtualMainLoop loop(start);
  loop.advance(90.25);
  EXPECT_EQ(loop.monotonicNow(), std::chrono::milliseconds(90250));
  EXPECT_EQ(loop.wallNow() - start, std::chrono::milliseconds(90250));
  EXPECT_DOUBLE_EQ(loop.monotonicSeconds(), 90.25);
}

}  // namespace
}  // namespace quillet::platform::fake
