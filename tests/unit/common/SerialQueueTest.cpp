#include "common/runtime/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace quillet {
namespace {

TEST(SerialQueueTest, RunsBlocksOneAtATimeInOrderOnOneOtherThread) {
  std::vector<int> order;
  std::set<std::thread::id> threads;
  std::atomic<int> running{0};
  std::atomic<bool> overlapped{false};
  {
    SerialQueue queue("com.vantix.audio.fft");
    for (int index = 0; index < 200; ++index) {
      queue.async([&, index] {
        if (++running > 1) overlapped = true;
        order.push_back(index);
        threads.insert(std::this_thread::get_id());
        --running;
      });
    }
    queue.drain();
    EXPECT_EQ(order.size(), 200u);
  }
  for (int index = 0; index < 200; ++index) EXPECT_EQ(order[std::size_t(index)], index);
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(threads.size(), 1u);
  EXPECT_NE(*threads.begin(), std::this_thread::get_id());
}

TEST(SerialQueueTest, BlocksQueuedBeforeDestructionStillRun) {
  std::atomic<int> ran{0};
  {
    SerialQueue queue("quillet.test");
    for (int index = 0; index < 50; ++index) queue.async([&] { ++ran; });
  }
  EXPECT_EQ(ran.load(), 50);
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

TEST(SerialQueueTest, MayBeDestroyedByOneOfItsOwnBlocks) {
  // An owner whose last reference goes away in work on its own queue destroys the queue from there.
  auto queue = std::make_unique<SerialQueue>("test.self-destroy");
  std::promise<void> destroyed;
  std::promise<void> bothQueued;
  std::atomic<bool> laterBlockRan = false;
  queue->async([&] {
    bothQueued.get_future().wait();
    queue.reset();
    destroyed.set_value();
  });
  queue->async([&] { laterBlockRan = true; });
  bothQueued.set_value();
  ASSERT_EQ(destroyed.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_FALSE(laterBlockRan) << "work queued for an owner being destroyed must not run";
}

}  // namespace
}  // namespace quillet
