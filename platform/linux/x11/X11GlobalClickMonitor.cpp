#include "platform/linux/x11/X11GlobalClickMonitor.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/linux/x11/RawInputSelection.h"

namespace quillet::platform::x11 {

namespace {

constexpr int kLeftButton = 1;
constexpr int kRightButton = 3;

}  // namespace

X11GlobalClickMonitor::X11GlobalClickMonitor(MainLoop& loop, std::string displayName)
    : loop_(loop), displayName_(std::move(displayName)) {}

X11GlobalClickMonitor::~X11GlobalClickMonitor() {
  if (handler_) *handler_ = nullptr;
  if (thread_.joinable()) {
    // Closing the write end makes the read end readable for good, so the thread cannot miss it.
    ::close(wakeWriteEnd_);
    thread_.join();
    ::close(wakeReadEnd_);
  }
  if (display_ != nullptr) {
    // Xlib cannot close a connection whose server is gone without stalling; then only the socket goes.
    if (lost_) {
      ::close(ConnectionNumber(display_));
    } else {
      XCloseDisplay(display_);
    }
  }
}

// Spelled out: Xlib defines Status as a macro.
Expected<void> X11GlobalClickMonitor::start(Handler handler) {
  if (display_ != nullptr) return Error("the click monitor is already started");
  display_ = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
  if (display_ == nullptr) return Error("cannot open the X display");
  const auto opcode = selectRootRawEvents(display_, {XI_RawButtonPress, XI_RawButtonRelease});
  if (!opcode) return Error("the X server has no XInput 2.1");
  inputOpcode_ = *opcode;
  XSync(display_, False);

  int wakePipe[2];
  if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return Error("cannot create the wake-up pipe");
  wakeReadEnd_ = wakePipe[0];
  wakeWriteEnd_ = wakePipe[1];
  handler_ = std::make_shared<Handler>(std::move(handler));
  thread_ = std::thread([this] { run(); });
  return succeeded();
}

void X11GlobalClickMonitor::run() {
  while (true) {
    // Events may already sit in Xlib's queue, read along with an earlier reply; poll() would not see them.
    while (XEventsQueued(display_, QueuedAlready) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      XGenericEventCookie* cookie = &event.xcookie;
      if (cookie->type != GenericEvent || cookie->extension != inputOpcode_ || !XGetEventData(display_, cookie)) {
        continue;
      }
      if (cookie->evtype == XI_RawButtonPress || cookie->evtype == XI_RawButtonRelease) {
        deliver(static_cast<const XIRawEvent*>(cookie->data)->detail, cookie->evtype == XI_RawButtonPress);
      }
      XFreeEventData(display_, cookie);
    }
    pollfd descriptors[] = {{ConnectionNumber(display_), POLLIN, 0}, {wakeReadEnd_, POLLIN, 0}};
    if (::poll(descriptors, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (descriptors[1].revents != 0) return;
    if (serverHungUp()) {
      lost_ = true;
      return;
    }
    // Reads what arrived into Xlib's queue without blocking.
    XEventsQueued(display_, QueuedAfterReading);
  }
}

bool X11GlobalClickMonitor::serverHungUp() const {
  char byte = 0;
  const ssize_t peeked = ::recv(ConnectionNumber(display_), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void X11GlobalClickMonitor::deliver(int button, bool pressed) {
  if (button != kLeftButton && button != kRightButton) return;  // wheels and extra buttons are not clicks
  const GlobalClick click{button == kLeftButton ? MouseButton::left : MouseButton::right,
                          pressed ? MouseTransition::down : MouseTransition::up};
  loop_.post([weakHandler = std::weak_ptr<Handler>(handler_), click] {
    const auto handler = weakHandler.lock();
    if (handler && *handler) (*handler)(click);
  });
}

}  // namespace quillet::platform::x11
