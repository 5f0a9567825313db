#pragma once

#include "platform/GlobalClickMonitor.h"
#include "platform/MainLoop.h"

namespace quillet::platform::fake {

// Clicks the test makes; they reach the handler through the main loop, as real ones do.
class FakeGlobalClickMonitor final : public GlobalClickMonitor {
 public:
  explicit FakeGlobalClickMonitor(MainLoop& loop) : loop_(loop) {}

  Status start(Handler handler) override {
    handler_ = std::move(handler);
    if (!available) return Error("the desktop cannot be watched");
    return succeeded();
  }

  // A press and a release of `button`, as one click of the user.
  void click(MouseButton button = MouseButton::left) {
    deliver({button, MouseTransition::down});
    deliver({button, MouseTransition::up});
  }

  void deliver(GlobalClick click) {
    if (!handler_ || !available) return;
    loop_.post([handler = handler_, click] { handler(click); });
  }

  [[nodiscard]] bool started() const { return static_cast<bool>(handler_); }

  // False stands for a desktop that cannot be watched.
  bool available = true;

 private:
  MainLoop& loop_;
  Handler handler_;
};

}  // namespace quillet::platform::fake
