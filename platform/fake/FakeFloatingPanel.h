#pragma once

#include <optional>

#include "platform/FloatingPanel.h"

namespace quillet::platform::fake {

// A floating panel that remembers where it was put and how often it was shown and hidden.
class FakeFloatingPanel final : public FloatingPanel {
 public:
  void orderFront() override { visible = true; }
  void orderOut() override {
    visible = false;
    ++orderOutCount;
  }
  void setOrigin(ScreenPoint point) override { origin = point; }
  [[nodiscard]] bool isVisible() const override { return visible; }

  bool visible = false;
  std::optional<ScreenPoint> origin;
  int orderOutCount = 0;
};

}  // namespace quillet::platform::fake
