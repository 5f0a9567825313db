#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quillet {

// A labelled thread that runs blocks one at a time in the order they arrive.
class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  ~SerialQueue();

  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  // Queues `block`; callable from any thread.
  void async(std::function<void()> block);

  // Waits until every block queued before this call has run. Not from the queue itself.
  void drain();

  [[nodiscard]] const std::string& label() const { return label_; }

 private:
  void runLoop();

  std::string label_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> blocks_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace quillet
