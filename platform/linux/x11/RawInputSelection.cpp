#include "platform/linux/x11/RawInputSelection.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace quillet::platform::x11 {

std::optional<int> selectRootRawEvents(Display* display, std::initializer_list<int> eventTypes) {
  int opcode = 0;
  int firstEvent = 0;
  int firstError = 0;
  int major = 2;
  int minor = 1;
  if (!XQueryExtension(display, "XInputExtension", &opcode, &firstEvent, &firstError) ||
      XIQueryVersion(display, &major, &minor) != Success) {
    return std::nullopt;
  }
  unsigned char maskBits[XIMaskLen(XI_LASTEVENT)] = {};
  for (const int eventType : eventTypes) XISetMask(maskBits, eventType);
  XIEventMask mask{XIAllMasterDevices, static_cast<int>(sizeof(maskBits)), maskBits};
  XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
  return opcode;
}

}  // namespace quillet::platform::x11
