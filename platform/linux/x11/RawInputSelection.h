#pragma once

#include <initializer_list>
#include <optional>

// Xlib's own name for a connection; declared here so that Xlib's headers stay inside the adapter's sources.
struct _XDisplay;

namespace quillet::platform::x11 {

// Asks for the XInput2 raw events `eventTypes` (XI_RawKeyPress, XI_RawButtonPress, ...) of every device on the root
// window, which the server copies to us whoever has focus or a grab (from XInput 2.1 on). Answers the extension's
// opcode, which the events carry, or nothing when the server has no XInput 2.1. The request is sent, not synced.
std::optional<int> selectRootRawEvents(_XDisplay* display, std::initializer_list<int> eventTypes);

}  // namespace quillet::platform::x11
