#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/linux/x11/X11Connection.h"

namespace quillet::platform::x11 {

// Follows the window manager's changes to the active window and the client list on a connection and
// a thread of its own: the thread sleeps in poll() on the connection and a wake-up pipe, so it costs
// nothing while the desktop is quiet. `onChange` runs on that thread.
class RootWindowWatcher {
 public:
  // What changed; `activeProcessId` is the process of the new active window, if any.
  struct Change {
    bool activeWindowChanged = false;
    std::optional<int> activeProcessId;
    bool clientListChanged = false;
  };
  using ChangeHandler = std::function<void(const Change& change)>;

  // Nothing when the display cannot be opened.
  static std::unique_ptr<RootWindowWatcher> start(const std::string& displayName, ChangeHandler onChange);

  // Wakes the thread and joins it.
  ~RootWindowWatcher();
  RootWindowWatcher(const RootWindowWatcher&) = delete;
  RootWindowWatcher& operator=(const RootWindowWatcher&) = delete;

 private:
  RootWindowWatcher(std::unique_ptr<X11Connection> connection, int wakeReadEnd, int wakeWriteEnd,
                    ChangeHandler onChange);
  void run();

  std::unique_ptr<X11Connection> connection_;
  int wakeReadEnd_;
  int wakeWriteEnd_;
  ChangeHandler onChange_;
  std::thread thread_;
};

}  // namespace quillet::platform::x11
