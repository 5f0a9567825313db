#pragma once

#include "platform/ScreenPoint.h"

namespace quillet::platform {

// A small floating window of the agent that never takes keyboard focus from the application the user types in: above
// other windows, on every desktop, not in the taskbar. Main thread only.
class FloatingPanel {
 public:
  virtual ~FloatingPanel() = default;

  // Shows the window in front of the others without activating the agent.
  virtual void orderFront() = 0;
  // Hides the window.
  virtual void orderOut() = 0;
  // Moves the window's bottom-left corner to `origin`.
  virtual void setOrigin(ScreenPoint origin) = 0;
  [[nodiscard]] virtual bool isVisible() const = 0;
};

}  // namespace quillet::platform
