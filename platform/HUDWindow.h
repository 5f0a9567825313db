#pragma once

#include <functional>

#include "platform/ScreenPoint.h"

namespace quillet::platform {

// The dictation HUD's floating window: above other windows, on every desktop, the one window of the agent that takes
// keyboard focus, and listed in the taskbar only while it is shown. Main thread only.
class HUDWindow {
 public:
  virtual ~HUDWindow() = default;

  // Shows the window fully opaque in front of every other window and gives it keyboard focus.
  virtual void present() = 0;
  // Fades the window out over `seconds`, hides it, makes it opaque again for the next time and then calls `done` on the
  // main loop. A present() before the fade ends stops the fade; `done` still runs.
  virtual void fadeOutAndHide(double seconds, std::function<void()> done) = 0;
  // Moves the window's bottom-left corner to `origin`.
  virtual void setOrigin(ScreenPoint origin) = 0;
  [[nodiscard]] virtual ScreenPoint origin() const = 0;
  [[nodiscard]] virtual bool isVisible() const = 0;
  // Whether the keyboard focus is in one of the window's own editable text fields.
  [[nodiscard]] virtual bool isEditingText() const = 0;
};

}  // namespace quillet::platform
