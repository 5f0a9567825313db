#pragma once

#include <memory>
#include <string>

namespace quillet::test {

// A second X client for the tests, kept apart so that Xlib's macros stay out of the tests' sources.

// Another X client holding a passive grab of one key with Super and Shift (and the lock variants), as a desktop's own
// shortcut does; the grab ends when the returned handle goes. Nothing when the display cannot be opened.
std::shared_ptr<void> grabSuperShiftKeyElsewhere(const std::string& displayName, const std::string& keysymName);

// The X key code this display's keymap gives the keysym `keysymName` ("a", "Return", "F5"); 0 when it has none.
unsigned keycodeOfKeysym(const std::string& displayName, const std::string& keysymName);

}  // namespace quillet::test
