#include "common/runtime/SerialQueue.h"

#include <pthread.h>

#include <future>

namespace quillet {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), thread_([this] { runLoop(); }) {
  // Thread names are limited to 15 characters; keep the end, where labels differ.
  const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
  pthread_setname_np(thread_.native_handle(), name.c_str());
}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void SerialQueue::async(std::function<void()> block) {
  {
    std::lock_guard lock(mutex_);
    blocks_.push_back(std::move(block));
  }
  wake_.notify_one();
}

void SerialQueue::drain() {
  std::promise<void> done;
  auto finished = done.get_future();
  async([&done] { done.set_value(); });
  finished.wait();
}

void SerialQueue::runLoop() {
  for (;;) {
    std::function<void()> block;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !blocks_.empty(); });
      // Blocks queued before destruction still run, so nothing posted is silently lost.
      if (blocks_.empty()) return;
      block = std::move(blocks_.front());
      blocks_.pop_front();
    }
    block();
  }
}

}  // namespace quillet
