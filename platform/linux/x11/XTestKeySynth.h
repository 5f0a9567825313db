#pragma once

#include <string>

#include "platform/KeySynth.h"

// Xlib's own name for a connection; declared here so that Xlib's headers stay inside the adapter's sources.
struct _XDisplay;

namespace quillet::platform::x11 {

// Key chords through the XTest extension: the server delivers them to the window with keyboard focus
// as if typed. Opens its connection on first use; without a display or XTest it posts nothing.
class XTestKeySynth final : public KeySynth {
 public:
  // `displayName` empty means $DISPLAY.
  explicit XTestKeySynth(std::string displayName = {});
  ~XTestKeySynth() override;

  XTestKeySynth(const XTestKeySynth&) = delete;
  XTestKeySynth& operator=(const XTestKeySynth&) = delete;

  void post(const KeyChord& chord) override;

 private:
  bool connect();

  std::string displayName_;
  _XDisplay* display_ = nullptr;
};

}  // namespace quillet::platform::x11
