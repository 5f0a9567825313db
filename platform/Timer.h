#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace quillet::platform {

// A cancellable handle on a scheduled block. Copies share one timer; dropping
// every copy does not cancel it, just as a block handed to a run loop keeps running.
class Timer {
 public:
  // What a main-loop implementation keeps for each scheduled block.
  struct State {
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
    // Lets the implementation release its resources early; may be empty.
    std::function<void()> release;
  };

  Timer() = default;
  explicit Timer(std::shared_ptr<State> state) : state_(std::move(state)) {}

  // Stops the timer; a block that has not started will not run. Main thread only.
  void cancel() {
    if (!state_ || state_->cancelled.exchange(true)) return;
    if (state_->release) state_->release();
  }

  // True while the block may still run (a repeating timer stays valid until cancelled).
  [[nodiscard]] bool isValid() const { return state_ && !state_->cancelled && !state_->finished; }

 private:
  std::shared_ptr<State> state_;
};

}  // namespace quillet::platform
