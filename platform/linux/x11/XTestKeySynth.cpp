#include "platform/linux/x11/XTestKeySynth.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <utility>
#include <vector>

namespace quillet::platform::x11 {

namespace {

KeySym keySymOf(ModifierKey modifier) {
  switch (modifier) {
    case ModifierKey::control:
      return XK_Control_L;
    case ModifierKey::shift:
      return XK_Shift_L;
    case ModifierKey::alt:
      return XK_Alt_L;
    case ModifierKey::super:
      return XK_Super_L;
  }
  return NoSymbol;
}

}  // namespace

XTestKeySynth::XTestKeySynth(std::string displayName) : displayName_(std::move(displayName)) {}

XTestKeySynth::~XTestKeySynth() {
  if (display_ != nullptr) XCloseDisplay(display_);
}

bool XTestKeySynth::connect() {
  if (display_ != nullptr) return true;
  display_ = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
  if (display_ == nullptr) return false;
  int eventBase = 0;
  int errorBase = 0;
  int major = 0;
  int minor = 0;
  if (!XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor)) {
    XCloseDisplay(display_);
    display_ = nullptr;
    return false;
  }
  return true;
}

void XTestKeySynth::post(const KeyChord& chord) {
  if (!connect()) return;
  const KeyCode key = XKeysymToKeycode(display_, XStringToKeysym(chord.key.c_str()));
  if (key == 0) return;
  std::vector<KeyCode> modifiers;
  for (const auto modifier : chord.modifiers) {
    const KeyCode code = XKeysymToKeycode(display_, keySymOf(modifier));
    if (code == 0) return;
    modifiers.push_back(code);
  }
  for (const auto code : modifiers) XTestFakeKeyEvent(display_, code, True, CurrentTime);
  XTestFakeKeyEvent(display_, key, True, CurrentTime);
  XTestFakeKeyEvent(display_, key, False, CurrentTime);
  for (auto code = modifiers.rbegin(); code != modifiers.rend(); ++code) XTestFakeKeyEvent(display_, *code, False, CurrentTime);
  XFlush(display_);
}

}  // namespace quillet::platform::x11
