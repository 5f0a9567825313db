#include "platform/linux/x11/X11Connection.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace quillet::platform::x11 {

namespace {

// Xlib has one error handler for the whole process. Ours records errors on our connections (the
// thread that made the failing request is the one running the handler) and passes any other
// connection's errors on to whoever installed a handler before us.
std::mutex connectionsMutex;
std::set<Display*> ourConnections;
std::set<Display*> brokenConnections;
XErrorHandler previousErrorHandler = nullptr;
XIOErrorHandler previousIoErrorHandler = nullptr;
thread_local bool errorSeen = false;

bool isOurs(Display* display) {
  const std::lock_guard lock(connectionsMutex);
  return ourConnections.contains(display);
}

int recordError(Display* display, XErrorEvent* event) {
  if (isOurs(display)) {
    errorSeen = true;
    return 0;
  }
  return previousErrorHandler != nullptr ? previousErrorHandler(display, event) : 0;
}

// Xlib's own handler for a lost server ends the process; on our connections we return, so that
// Xlib goes on to markBroken() below instead.
int surviveLostServer(Display* display) {
  if (isOurs(display)) return 0;
  return previousIoErrorHandler != nullptr ? previousIoErrorHandler(display) : 0;
}

// Called instead of exit() when the server goes away; Xlib then fails every further call on it.
void markBroken(Display* display, void*) {
  const std::lock_guard lock(connectionsMutex);
  brokenConnections.insert(display);
}

void installErrorHandlerOnce() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    XInitThreads();
    previousErrorHandler = XSetErrorHandler(recordError);
    previousIoErrorHandler = XSetIOErrorHandler(surviveLostServer);
  });
}

}  // namespace

std::unique_ptr<X11Connection> X11Connection::open(const std::string& displayName) {
  installErrorHandlerOnce();
  Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
  if (display == nullptr) return nullptr;
  {
    const std::lock_guard lock(connectionsMutex);
    ourConnections.insert(display);
  }
  XSetIOErrorExitHandler(display, markBroken, nullptr);
  return std::unique_ptr<X11Connection>(new X11Connection(display));
}

X11Connection::X11Connection(Display* display)
    : display_(display),
      root_(DefaultRootWindow(display)),
      activeWindowAtom_(XInternAtom(display, "_NET_ACTIVE_WINDOW", False)),
      clientListAtom_(XInternAtom(display, "_NET_CLIENT_LIST", False)),
      processIdAtom_(XInternAtom(display, "_NET_WM_PID", False)) {}

X11Connection::~X11Connection() {
  // Xlib cannot close a connection it declared lost (XCloseDisplay then waits forever on the
  // connection's own lock): only its socket is closed, and the few bytes of Xlib's record are left.
  if (isBroken()) {
    ::close(ConnectionNumber(display_));
#if defined(__SANITIZE_ADDRESS__)
    // Left on purpose, so the leak checker is told not to report it.
    __lsan_ignore_object(display_);
#endif
  } else {
    XCloseDisplay(display_);
  }
  const std::lock_guard lock(connectionsMutex);
  ourConnections.erase(display_);
  brokenConnections.erase(display_);
}

bool X11Connection::isBroken() const {
  const std::lock_guard lock(connectionsMutex);
  return brokenConnections.contains(display_);
}

int X11Connection::fileDescriptor() const { return ConnectionNumber(display_); }

bool X11Connection::succeeds(const std::function<void(Display*)>& requests) {
  errorSeen = false;
  requests(display_);
  XSync(display_, False);
  return !errorSeen && !isBroken();
}

std::optional<unsigned long> X11Connection::windowProperty(unsigned long window, unsigned long property,
                                                           unsigned long type) {
  if (isBroken()) return std::nullopt;
  errorSeen = false;
  Atom actualType = None;
  int actualFormat = 0;
  unsigned long itemCount = 0;
  unsigned long bytesAfter = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(display_, window, property, 0, 1, False, type, &actualType, &actualFormat,
                                        &itemCount, &bytesAfter, &data);
  std::optional<unsigned long> value;
  // Format 32 items come back as longs, whatever the server's word size.
  if (status == Success && !errorSeen && !isBroken() && data != nullptr && actualType == type &&
      actualFormat == 32 && itemCount >= 1) {
    value = *reinterpret_cast<const unsigned long*>(static_cast<const void*>(data));
  }
  if (data != nullptr) XFree(data);
  return value;
}

std::optional<unsigned long> X11Connection::activeWindow() {
  auto window = windowProperty(root_, activeWindowAtom_, XA_WINDOW);
  if (window == 0UL) return std::nullopt;
  return window;
}

std::optional<int> X11Connection::processIdOfWindow(unsigned long window) {
  const auto processId = windowProperty(window, processIdAtom_, XA_CARDINAL);
  if (!processId || *processId == 0 || *processId > 0x7fffffffUL) return std::nullopt;
  return static_cast<int>(*processId);
}

std::optional<int> X11Connection::activeProcessId() {
  const auto window = activeWindow();
  if (!window) return std::nullopt;
  return processIdOfWindow(*window);
}

void X11Connection::watchRootProperties() {
  if (isBroken()) return;
  XSelectInput(display_, root_, PropertyChangeMask);
  XFlush(display_);
}

X11Connection::RootChanges X11Connection::takeRootChanges() {
  RootChanges changes;
  while (!isBroken() && XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type != PropertyNotify || event.xproperty.window != root_) continue;
    if (event.xproperty.atom == activeWindowAtom_) changes.activeWindow = true;
    if (event.xproperty.atom == clientListAtom_) changes.clientList = true;
  }
  return changes;
}

}  // namespace quillet::platform::x11
