#pragma once

#include <optional>

#include "platform/PromptWindow.h"

namespace quillet::platform::fake {

// A prompt that remembers where it was shown and whether it is up.
class FakePromptWindow final : public PromptWindow {
 public:
  void showAt(ScreenPoint origin) override {
    shownAt = origin;
    visible = true;
  }
  void fadeOutAndHide(double seconds) override {
    visible = false;
    lastFadeSeconds = seconds;
  }

  std::optional<ScreenPoint> shownAt;
  bool visible = false;
  double lastFadeSeconds = 0;
};

}  // namespace quillet::platform::fake
