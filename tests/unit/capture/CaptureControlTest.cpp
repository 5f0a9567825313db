#include "quillet-capture/program/CaptureControl.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"

namespace quillet::capture {
namespace {

class CaptureControlTest : public ::testing::Test {
 protected:
  CaptureControlTest() {
    control->onChange = [this](bool paused) {
      told.push_back(paused);
      toldOnThreads.push_back(std::this_thread::get_id());
    };
  }

  platform::fake::VirtualMainLoop loop;
  std::shared_ptr<CaptureControl> control = CaptureControl::make(loop);
  std::vector<bool> told;
  std::vector<std::thread::id> toldOnThreads;
};

TEST_F(CaptureControlTest, StartsRunning) { EXPECT_FALSE(control->paused()); }

TEST_F(CaptureControlTest, ToggleTwiceAnswersTrueThenFalseAndTellsTheListenerOnTheMainLoop) {
  EXPECT_TRUE(control->toggle());
  EXPECT_TRUE(control->paused());
  EXPECT_FALSE(control->toggle());
  EXPECT_FALSE(control->paused());
  // Nothing is told before the main loop runs.
  EXPECT_EQ(told, std::vector<bool>{});
  loop.runPending();
  EXPECT_EQ(told, (std::vector<bool>{true, false}));
}

TEST_F(CaptureControlTest, ChangesFromOtherThreadsReachTheListenerOnTheMainThread) {
  std::thread([this] {
    control->set(true);
    control->toggle();
  }).join();
  loop.runPending();
  EXPECT_EQ(told, (std::vector<bool>{true, false}));
  EXPECT_EQ(toldOnThreads, std::vector<std::thread::id>(2, std::this_thread::get_id()));
}

TEST_F(CaptureControlTest, SetTellsEveryStoreEvenWithoutAChange) {
  control->set(true);
  control->set(true);
  control->set(false);
  loop.runPending();
  EXPECT_EQ(told, (std::vector<bool>{true, true, false}));
  EXPECT_FALSE(control->paused());
}

TEST_F(CaptureControlTest, WorksWithoutAListener) {
  control->onChange = nullptr;
  control->set(true);
  loop.runPending();
  EXPECT_TRUE(control->paused());
}

TEST_F(CaptureControlTest, AGoneControlTellsNothing) {
  control->set(true);
  control.reset();
  loop.runPending();
  EXPECT_EQ(told, std::vector<bool>{});
}

TEST_F(CaptureControlTest, ConcurrentTogglesAreToldInTheOrderTheyHappened) {
  constexpr int kThreads = 4;
  constexpr int kTogglesPerThread = 500;
  std::vector<std::thread> togglers;
  for (int thread = 0; thread < kThreads; ++thread) {
    togglers.emplace_back([this] {
      for (int toggle = 0; toggle < kTogglesPerThread; ++toggle) control->toggle();
    });
  }
  for (auto& toggler : togglers) toggler.join();
  loop.runPending();
  ASSERT_EQ(told.size(), static_cast<std::size_t>(kThreads * kTogglesPerThread));
  // Every toggle inverts, so the listener hears strictly alternating values, ending on the stored one.
  for (std::size_t index = 0; index < told.size(); ++index) EXPECT_EQ(told[index], index % 2 == 0) << index;
  EXPECT_EQ(told.back(), control->paused());
}

}  // namespace
}  // namespace quillet::capture
