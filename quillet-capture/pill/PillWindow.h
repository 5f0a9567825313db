#pragma once

#include "quillet-capture/pill/PillPlacement.h"

namespace quillet::capture {

// The pill's floating window as the panel drives it: a frameless tool window that never takes focus.
// Main thread only.
class PillWindow {
 public:
  virtual ~PillWindow() = default;

  [[nodiscard]] virtual PillOrigin origin() const = 0;
  virtual void setOrigin(PillOrigin origin) = 0;
  // Brings the window to the front without activating the program.
  virtual void orderFront() = 0;
  virtual void orderOut() = 0;
  [[nodiscard]] virtual bool isVisible() const = 0;
};

}  // namespace quillet::capture
