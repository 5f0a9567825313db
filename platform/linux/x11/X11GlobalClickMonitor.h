#pragma once

#include <memory>
#include <string>
#include <thread>

#include "platform/GlobalClickMonitor.h"
#include "platform/MainLoop.h"

// Xlib's own name for a connection; declared here so that Xlib's headers stay inside the adapter's sources.
struct _XDisplay;

namespace quillet::platform::x11 {

// Mouse buttons anywhere on the desktop through XInput2 raw button events on the root window, which
// the server copies to us without taking them from the window they go to. A thread of its own sleeps
// in poll() on its own connection and a wake-up pipe, and posts each press and release to the main loop.
// Construct, start and destroy on the main loop's thread.
class X11GlobalClickMonitor final : public GlobalClickMonitor {
 public:
  // `displayName` empty means $DISPLAY.
  explicit X11GlobalClickMonitor(MainLoop& loop, std::string displayName = {});
  // Wakes the thread and joins it; no handler runs afterwards.
  ~X11GlobalClickMonitor() override;

  X11GlobalClickMonitor(const X11GlobalClickMonitor&) = delete;
  X11GlobalClickMonitor& operator=(const X11GlobalClickMonitor&) = delete;

  // False without a display or without XInput 2.1 on the server.
  Status start(Handler handler) override;

 private:
  void run();
  // True when the server closed the connection; Xlib must not read from it then, or it ends the process.
  [[nodiscard]] bool serverHungUp() const;
  void deliver(int button, bool pressed);

  MainLoop& loop_;
  std::string displayName_;
  _XDisplay* display_ = nullptr;
  int inputOpcode_ = 0;
  int wakeReadEnd_ = -1;
  int wakeWriteEnd_ = -1;
  bool lost_ = false;
  // Posted blocks reach the handler only while this is set; the destructor clears it on the main thread.
  std::shared_ptr<Handler> handler_;
  std::thread thread_;
};

}  // namespace quillet::platform::x11
