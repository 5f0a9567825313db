#include "common/runtime/WorkerPool.h"

#include <gtest/gtest.h>

#include <atomic>
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

TEST(WorkerPoolTest, DestroyingThePoolWaitsForWorkAlreadyRunning) {
  platform::fake::VirtualMainLoop mainLoop;
  std::atomic<bool> started{false};
  std::atomic<bool> release{false};
  std::atomic<bool> finished{false};
  std::thread releaser;
  {
    WorkerPool pool(mainLoop, 1);
    pool.submit([&] {
      started = true;
      while (!release) std::this_thread::yield();
      finished = true;
    });
    while (!started) std::this_thread::yield();
    releaser = std::thread([&] { release = true; });
  }
  EXPECT_TRUE(finished) << "the destructor returned while a job was still running";
  releaser.join();
}

}  // namespace
}  // namespace quillet
