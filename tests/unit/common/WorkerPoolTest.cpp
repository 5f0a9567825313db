#include "common/runtime/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"

namespace quillet {
namespace {

TEST(WorkerPoolTest, WorkRunsOffTheMainThreadAndResultsComeBackOnIt) {
  platform::fake::VirtualMainLoop mainLoop;
  WorkerPool pool(mainLoop, 2);
  const auto mainThread = std::this_thread::get_id();
  std::vector<int> results;
  std::set<std::thread::id> resultThreads;
  std::atomic<int> workOnMainThread{0};

  for (int index = 0; index < 20; ++index) {
    pool.run(
        [index, mainThread, &workOnMainThread] {
          if (std::this_thread::get_id() == mainThread) ++workOnMainThread;
          return index * index;
        },
        [&](int square) {
          results.push_back(square);
          resultThreads.insert(std::this_thread::get_id());
        });
  }

  ASSERT_TRUE(mainLoop.runUntil([&] { return results.size() == 20; }));
  EXPECT_EQ(workOnMainThread.load(), 0);
  EXPECT_EQ(resultThreads, (std::set<std::thread::id>{mainThread}));
  std::multiset<int> squares(results.begin(), results.end());
  for (int index = 0; index < 20; ++index) EXPECT_EQ(squares.count(index * index), 1u) << index;
}

TEST(WorkerPoolTest, VoidWorkReportsCompletion) {
  platform::fake::VirtualMainLoop mainLoop;
  WorkerPool pool(mainLoop, 1);
  std::atomic<bool> worked{false};
  bool reported = false;
  pool.run([&] { worked = true; }, [&] { reported = true; });
  ASSERT_TRUE(mainLoop.runUntil([&] { return reported; }));
  EXPECT_TRUE(worked);
}

TEST(WorkerPoolTest, EndingThePoolStopsRunningWorkAndDropsWhatHasNotStarted) {
  platform::fake::VirtualMainLoop mainLoop;
  std::atomic<bool> started{false};
  std::atomic<bool> sawStop{false};
  std::atomic<bool> queuedRan{false};
  int reported = 0;
  {
    WorkerPool pool(mainLoop, 1);
    pool.run(
        [&, stop = pool.stopToken()] {
          started = true;
          while (!stop.stop_requested()) std::this_thread::yield();
          sawStop = true;
        },
        [&] { ++reported; });
    pool.run([&] { queuedRan = true; }, [&] { ++reported; });
    while (!started) std::this_thread::yield();
  }
  EXPECT_TRUE(sawStop) << "the running job was not asked to stop, or not waited for while it stopped";
  EXPECT_FALSE(queuedRan);
  mainLoop.runPending();
  EXPECT_EQ(reported, 0) << "a result reached the main loop after the pool ended";
}

// A job stuck in a call that cannot be interrupted holds the end of the pool only for the grace period;
// its result, when it comes, goes nowhere.
TEST(WorkerPoolTest, WorkThatIgnoresTheStopIsAbandonedAfterTheGrace) {
  platform::fake::VirtualMainLoop mainLoop;
  auto release = std::make_shared<std::atomic<bool>>(false);
  auto finished = std::make_shared<std::atomic<bool>>(false);
  std::atomic<bool> started{false};
  bool reported = false;
  auto pool = std::make_unique<WorkerPool>(mainLoop, 1);
  pool->run(
      [release, finished, &started] {
        started = true;
        while (!*release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        *finished = true;
      },
      [&] { reported = true; });
  while (!started) std::this_thread::yield();

  auto ending = std::async(std::launch::async, [&] { pool.reset(); });
  const bool ended = ending.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  const bool stillRunningWhenEnded = !*finished;
  *release = true;
  ending.wait();
  while (!*finished) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // Gives the abandoned thread the moment it would need to post its result.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));

  EXPECT_TRUE(ended);
  EXPECT_TRUE(stillRunningWhenEnded) << "the pool waited for the stuck job";
  mainLoop.runPending();
  EXPECT_FALSE(reported);
}

}  // namespace
}  // namespace quillet
