#pragma once

#include <cstdint>

namespace quillet::platform {

// Brings an application's window to the front with keyboard focus, as clicking it would.
class ApplicationActivation {
 public:
  virtual ~ApplicationActivation() = default;

  // Activates the most recently used window of the process, taking focus from every other
  // application, this one's panels included. Does nothing when the process shows no window.
  virtual void activate(int processId) = 0;

  // Activates the one window `windowId`, as Workspace::frontmostWindow() names it. Does nothing when
  // the window is gone.
  virtual void activateWindow(std::uint64_t windowId) = 0;
};

}  // namespace quillet::platform
