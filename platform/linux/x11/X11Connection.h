#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

// Xlib's own name for a connection; declared here so that Xlib's headers stay inside the adapter's sources.
struct _XDisplay;

namespace quillet::platform::x11 {

// One connection to the X server, used by one thread. X protocol errors (a window closed while we read
// it) come back as absent values, and a lost server marks the connection broken instead of ending the process.
class X11Connection {
 public:
  // Root-window properties a window manager changes, as reported by takeRootChanges().
  struct RootChanges {
    bool activeWindow = false;
    bool clientList = false;
  };

  // Nothing when the display cannot be opened; an empty name means $DISPLAY.
  static std::unique_ptr<X11Connection> open(const std::string& displayName);

  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  // The window in the root's _NET_ACTIVE_WINDOW; nothing when unset or None.
  std::optional<unsigned long> activeWindow();

  // The _NET_WM_PID of `window`; nothing when the window is gone or does not say.
  std::optional<int> processIdOfWindow(unsigned long window);

  // The process owning the active window, in one call.
  std::optional<int> activeProcessId();

  // Asks the server to report property changes on the root window from now on.
  void watchRootProperties();

  // Reads every event that has arrived and answers which watched root properties changed.
  RootChanges takeRootChanges();

  // For poll(): readable when the server has sent something.
  [[nodiscard]] int fileDescriptor() const;

  // The server went away; every further answer is nothing.
  [[nodiscard]] bool isBroken() const;

  // The Xlib connection, for the adapters of this folder that speak protocols this class does not wrap.
  [[nodiscard]] _XDisplay* display() const { return display_; }

  // Makes the requests and waits for the server to have handled them; false when any of them failed. Call it
  // on the one thread that uses this connection, which is the thread the errors are reported on.
  bool succeeds(const std::function<void(_XDisplay*)>& requests);

 private:
  explicit X11Connection(_XDisplay* display);

  std::optional<unsigned long> windowProperty(unsigned long window, unsigned long property, unsigned long type);

  _XDisplay* display_;
  unsigned long root_;
  unsigned long activeWindowAtom_;
  unsigned long clientListAtom_;
  unsigned long processIdAtom_;
};

}  // namespace quillet::platform::x11
