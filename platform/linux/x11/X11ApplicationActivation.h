#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ApplicationActivation.h"

// XCB's connection type; declared here so that its headers stay inside the adapter's sources.
struct xcb_connection_t;

namespace quillet::platform::x11 {

// Activates an application's topmost window by its _NET_WM_PID: through the window manager's
// _NET_ACTIVE_WINDOW when one runs, else by raising the window and giving it input focus directly.
// Talks XCB, whose errors come back as values, so a window closing meanwhile costs nothing.
class X11ApplicationActivation final : public ApplicationActivation {
 public:
  // `displayName` empty means $DISPLAY; the connection opens on first use.
  explicit X11ApplicationActivation(std::string displayName = {});
  ~X11ApplicationActivation() override;

  X11ApplicationActivation(const X11ApplicationActivation&) = delete;
  X11ApplicationActivation& operator=(const X11ApplicationActivation&) = delete;

  void activate(int processId) override;
  void activateWindow(std::uint64_t windowId) override;

 private:
  bool connect();
  std::optional<unsigned int> topmostWindowOf(int processId);
  bool windowManagerActivates();
  void activateTopLevel(unsigned int window);

  std::string displayName_;
  xcb_connection_t* connection_ = nullptr;
  unsigned int root_ = 0;
};

}  // namespace quillet::platform::x11
