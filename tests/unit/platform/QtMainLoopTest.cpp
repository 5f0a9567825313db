#include "platform/linux/qt/QtMainLoop.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace quillet::platform::qt {
namespace {

// The test program's main owns the application object, so timers made here have its event loop.
class QtMainLoopTest : public ::testing::Test {
 protected:
  QtMainLoop loop;
  // A test must never hang on a broken loop: this ends run() with a failure status.
  Timer watchdog = loop.after(10, [this] { loop.quit(99); });
};

TEST_F(QtMainLoopTest, TheWatchdogEndsALoopNobodyQuits) {
  ASSERT_NE(QCoreApplication::instance(), nullptr);
  Timer shortWatchdog = loop.after(0.05, [this] { loop.quit(98); });
  EXPECT_EQ(loop.run(), 98) << "a timer made by the fixture never fired";
}

TEST_F(QtMainLoopTest, PostFromAnotherThreadRunsOnTheMainThread) {
  const auto mainThread = std::this_thread::get_id();
  std::thread::id ranOn;
  std::thread worker([&] {
    loop.post([&] {
      ranOn = std::this_thread::get_id();
      loop.quit(0);
    });
  });
  EXPECT_EQ(loop.run(), 0);
  worker.join();
  EXPECT_EQ(ranOn, mainThread);
}

TEST_F(QtMainLoopTest, OneShotFiresOnceAndCancelledOneNever) {
  int fired = 0;
  bool cancelledFired = false;
  Timer cancelled = loop.after(0.01, [&] { cancelledFired = true; });
  Timer once = loop.after(0.02, [&] { ++fired; });
  cancelled.cancel();
  loop.after(0.1, [&] { loop.quit(0); });
  EXPECT_EQ(loop.run(), 0);
  EXPECT_EQ(fired, 1);
  EXPECT_FALSE(cancelledFired);
  EXPECT_FALSE(once.isValid());
}

TEST_F(QtMainLoopTest, RepeatingTimerRunsUntilCancelledFromItsOwnBlock) {
  int ticks = 0;
  Timer repeating;
  repeating = loop.every(0.005, [&] {
    if (++ticks == 3) {
      repeating.cancel();
      loop.after(0.05, [&] { loop.quit(0); });
    }
  });
  EXPECT_EQ(loop.run(), 0);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(repeating.isValid());
}

}  // namespace
}  // namespace quillet::platform::qt
