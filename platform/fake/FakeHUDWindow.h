#pragma once

#include <functional>
#include <utility>

#include "platform/HUDWindow.h"
#include "platform/MainLoop.h"
#include "platform/Timer.h"

namespace quillet::platform::fake {

// A HUD window that keeps its state in fields; a fade takes its seconds on the test's main loop.
class FakeHUDWindow final : public HUDWindow {
 public:
  explicit FakeHUDWindow(MainLoop& loop) : loop_(loop) {}

  void present() override {
    fade_.cancel();
    if (pendingDone_) loop_.post(std::exchange(pendingDone_, {}));
    visible = true;
  }

  void fadeOutAndHide(double seconds, std::function<void()> done) override {
    ++fadeCount;
    pendingDone_ = std::move(done);
    fade_ = loop_.after(seconds, [this] {
      visible = false;
      if (pendingDone_) std::exchange(pendingDone_, {})();
    });
  }

  void setOrigin(ScreenPoint point) override { origin_ = point; }
  [[nodiscard]] ScreenPoint origin() const override { return origin_; }
  [[nodiscard]] bool isVisible() const override { return visible; }
  [[nodiscard]] bool isEditingText() const override { return editingText; }

  // State a test reads or scripts.
  bool visible = false;
  bool editingText = false;
  int fadeCount = 0;

 private:
  MainLoop& loop_;
  ScreenPoint origin_;
  Timer fade_;
  std::function<void()> pendingDone_;
};

}  // namespace quillet::platform::fake
