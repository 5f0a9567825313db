#include "common/runtime/WorkerPool.h"

#include <algorithm>

namespace quillet {

WorkerPool::WorkerPool(platform::MainLoop& mainLoop, std::size_t threadCount) : mainLoop_(mainLoop) {
  threads_.reserve(std::max<std::size_t>(threadCount, 1));
  for (std::size_t index = 0; index < std::max<std::size_t>(threadCount, 1); ++index) {
    threads_.emplace_back([state = state_] { workLoop(state); });
  }
}

WorkerPool::~WorkerPool() {
  std::unique_lock lock(state_->mutex);
  state_->stopping = true;
  // No result reaches the main loop once the pool ends: the objects waiting for it may end with it.
  state_->ended = true;
  state_->stopSource.request_stop();
  state_->wake.notify_all();
  // Jobs never started hold the shared state themselves; dropped, they let it go.
  const auto dropped = std::move(state_->jobs);
  state_->jobs.clear();
  const bool settled = state_->idle.wait_for(lock, kShutdownGrace, [this] { return state_->running == 0; });
  lock.unlock();
  for (auto& thread : threads_) {
    if (settled) {
      thread.join();
    } else {
      thread.detach();
    }
  }
}

void WorkerPool::submit(std::function<void()> job) {
  {
    std::lock_guard lock(state_->mutex);
    state_->jobs.push_back(std::move(job));
  }
  state_->wake.notify_one();
}

void WorkerPool::State::postUnlessEnded(platform::MainLoop& mainLoop, platform::MainLoop::Block block) {
  std::lock_guard lock(mutex);
  if (!ended) mainLoop.post(std::move(block));
}

void WorkerPool::workLoop(const std::shared_ptr<State>& state) {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock lock(state->mutex);
      state->wake.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
      // Work not yet started is dropped at shutdown; its results would have nowhere to go.
      if (state->stopping) return;
      job = std::move(state->jobs.front());
      state->jobs.pop_front();
      ++state->running;
    }
    job();
    {
      std::lock_guard lock(state->mutex);
      --state->running;
    }
    state->idle.notify_all();
  }
}

}  // namespace quillet
