#include "tests/e2e/X11TestClient.h"

#include <X11/Xlib.h>

namespace quillet::test {

std::shared_ptr<void> grabSuperShiftKeyElsewhere(const std::string& displayName, const std::string& keysymName) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) return nullptr;
  const int keycode = XKeysymToKeycode(display, XStringToKeysym(keysymName.c_str()));
  for (const unsigned lock : {0U, unsigned(LockMask), unsigned(Mod2Mask), unsigned(LockMask | Mod2Mask)}) {
    XGrabKey(display, keycode, ShiftMask | Mod4Mask | lock, DefaultRootWindow(display), True, GrabModeAsync,
             GrabModeAsync);
  }
  XSync(display, False);
  return std::shared_ptr<void>(display, [](void* opened) { XCloseDisplay(static_cast<Display*>(opened)); });
}

unsigned keycodeOfKeysym(const std::string& displayName, const std::string& keysymName) {
  Display* display = XOpenDisplay(displayName.c_str());
  if (display == nullptr) return 0;
  const unsigned keycode = XKeysymToKeycode(display, XStringToKeysym(keysymName.c_str()));
  XCloseDisplay(display);
  return keycode;
}

}  // namespace quillet::test
