#pragma once

#include <string>
#include <vector>

namespace quillet::platform {

enum class ModifierKey { control, shift, alt, super };

// A key pressed while modifiers are held, such as Control+V. `key` names the key by its
// lower-case legend ("v"), as the keyboard layout's symbol for it.
struct KeyChord {
  std::vector<ModifierKey> modifiers;
  std::string key;

  friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

// Synthetic keyboard input delivered to whichever window has keyboard focus. Main thread only.
class KeySynth {
 public:
  virtual ~KeySynth() = default;

  // `key` is the lower-case legend ("v") or, for a key without one, its name ("Insert").
  // Presses the modifiers in order, presses and releases the key, then releases the modifiers in
  // reverse order. Does nothing when the key cannot be typed on the current layout or no display is open.
  virtual void post(const KeyChord& chord) = 0;
};

}  // namespace quillet::platform
