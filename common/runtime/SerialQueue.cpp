#include "common/runtime/SerialQueue.h"

#include <pthread.h>

#include <future>

namespace quillet {

SerialQueue::SerialQueue(std::string label)
    : label_(std::move(label)), thread_([state = state_] { runLoop(state); }) {
  // Thread names are limited to 15 characters; keep the end, where labels differ.
  const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
  pthread_setname_np(thread_.native_handle(), name.c_str());
}

SerialQueue::~SerialQueue() {
  const bool fromOwnThread = std::this_thread::get_id() == thread_.get_id();
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
    if (fromOwnThread) state_->blocks.clear();
  }
  state_->wake.notify_all();
  if (fromOwnThread) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void SerialQueue::async(std::function<void()> block) {
  {
    std::lock_guard lock(state_->mutex);
    state_->blocks.push_back(std::move(block));
  }
  state_->wake.notify_one();
}

void SerialQueue::drain() {
  std::promise<void> done;
  auto finished = done.get_future();
  async([&done] { done.set_value(); });
  finished.wait();
}

void SerialQueue::runLoop(const std::shared_ptr<State>& state) {
  for (;;) {
    std::function<void()> block;
    {
      std::unique_lock lock(state->mutex);
      state->wake.wait(lock, [&state] { return state->stopping || !state->blocks.empty(); });
      // Blocks queued before destruction still run, so nothing posted is silently lost.
      if (state->blocks.empty()) return;
      block = std::move(state->blocks.front());
      state->blocks.pop_front();
    }
    block();
  }
}

}  // namespace quillet
