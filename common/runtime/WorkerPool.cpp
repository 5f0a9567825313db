#include "common/runtime/WorkerPool.h"

#include <algorithm>

namespace quillet {

WorkerPool::WorkerPool(platform::MainLoop& mainLoop, std::size_t threadCount) : mainLoop_(mainLoop) {
  threads_.reserve(std::max<std::size_t>(threadCount, 1));
  for (std::size_t index = 0; index < std::max<std::size_t>(threadCount, 1); ++index) {
    threads_.emplace_back([this] { workLoop(); });
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopSource_.request_stop();
  wake_.notify_all();
  for (auto& thread : threads_) thread.join();
}

void WorkerPool::submit(std::function<void()> job) {
  {
    std::lock_guard lock(mutex_);
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
}

void WorkerPool::workLoop() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      // Work not yet started is dropped at shutdown; its results would have nowhere to go.
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

}  // namespace quillet
