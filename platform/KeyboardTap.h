#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/result/Expected.h"

namespace quillet::platform {

// Modifier flags of a key event, in the behaviour's numbering.
namespace key_flag {
inline constexpr std::uint64_t capsLock = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t fn = 0x800000;

// The flag a modifier key sets while held, by its key code (54 and 55 Command, 56 and 60 Shift, 57 Caps Lock,
// 58 and 61 Option, 59 and 62 Control, 63 Fn); 0 for every other key.
constexpr std::uint64_t ofModifierKey(std::uint16_t keyCode) {
  switch (keyCode) {
    case 54:
    case 55:
      return command;
    case 56:
    case 60:
      return shift;
    case 57:
      return capsLock;
    case 58:
    case 61:
      return option;
    case 59:
    case 62:
      return control;
    case 63:
      return fn;
    default:
      return 0;
  }
}
}  // namespace key_flag

// One key event seen system-wide, whichever application has focus.
struct KeyEvent {
  // A modifier key's press or release is a flags change, any other key a key down or up.
  enum class Type { keyDown, keyUp, flagsChanged };
  Type type = Type::keyDown;
  // The behaviour's virtual key code, by position on an ANSI keyboard (D is 2, Return 36, right Control 62).
  std::uint16_t keyCode = 0;
  // The modifier flags once the event has happened.
  std::uint64_t flags = 0;
  // For a flags change: whether the modifier key went down (false: it came up).
  bool modifierDown = false;
  // For a key down: the keyboard's auto-repeat while the key is held.
  bool isRepeat = false;
};

// What becomes of an event: it goes on to the focused application, or nowhere.
enum class KeyVerdict { pass, swallow };

// A key the tap must be able to keep from the focused application. `modifiers` (flags) names the exact modifier set it
// is taken with; nothing takes it with any modifiers.
struct SwallowedKey {
  std::uint16_t keyCode = 0;
  std::optional<std::uint64_t> modifiers;
  friend bool operator==(const SwallowedKey&, const SwallowedKey&) = default;
};

// Every key event of the desktop, observed without focus. A desktop that cannot drop an event after the fact swallows
// only the keys it was told about beforehand; a swallow verdict for any other event is not honoured. Main loop only.
class KeyboardTap {
 public:
  using Handler = std::function<KeyVerdict(const KeyEvent&)>;
  // A sentence about the tap's own state (the display lost or back, a key another program holds), for the log.
  using Notice = std::function<void(const std::string& message)>;

  virtual ~KeyboardTap() = default;

  // Starts reporting every key event to `handler` and the tap's own news to `notice`, both on the main loop;
  // fails with the reason when keys cannot be observed.
  virtual Status start(Handler handler, Notice notice) = 0;
  virtual void stop() = 0;
  // Replaces the keys that may be swallowed and calls `done` on the main loop once they are taken, with the
  // reason when some could not be (another program holds them); the others are taken and every key is still
  // observed.
  virtual void swallow(std::vector<SwallowedKey> keys, std::function<void(Status)> done) = 0;
  // Whether the keyboard has an Fn key the desktop sees (most keyboards handle Fn in their firmware).
  [[nodiscard]] virtual bool hasFnKey() const = 0;
};

}  // namespace quillet::platform
