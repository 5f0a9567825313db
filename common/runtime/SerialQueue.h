#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <memory>
#include <thread>

namespace quillet {

// A labelled thread that runs blocks one at a time in the order they arrive.
class SerialQueue {
 public:
  explicit SerialQueue(std::string label);
  // Runs what is queued, then ends the thread. Destroyed by one of its own blocks (its owner's last
  // reference went away there), it cannot wait for itself: the rest of the queue is dropped, since it
  // could only reach an owner that is being destroyed.
  ~SerialQueue();

  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  // Queues `block`; callable from any thread.
  void async(std::function<void()> block);

  // Waits until every block queued before this call has run. Not from the queue itself.
  void drain();

  [[nodiscard]] const std::string& label() const { return label_; }

 private:
  // Shared with the thread, which may outlive the queue when the queue is destroyed by one of its own blocks.
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> blocks;
    bool stopping = false;
  };

  static void runLoop(const std::shared_ptr<State>& state);

  std::string label_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
  std::thread thread_;
};

}  // namespace quillet
