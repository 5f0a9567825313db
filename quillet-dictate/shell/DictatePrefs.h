#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <variant>

namespace quillet::dictate {

// The dictation shortcut the host chose.
struct DictateHotkey {
  // A key pressed with exactly these modifiers ("command", "shift", "control", "option").
  struct Combo {
    std::uint16_t keyCode = 0;
    std::set<std::string> modifiers;
    friend bool operator==(const Combo&, const Combo&) = default;
  };
  // One key held to talk, tapped to toggle.
  struct HoldKey {
    std::uint16_t keyCode = 0;
    friend bool operator==(const HoldKey&, const HoldKey&) = default;
  };
  // Shift pressed twice in quick succession.
  struct ShiftDouble {
    friend bool operator==(const ShiftDouble&, const ShiftDouble&) = default;
  };
  // The Fn key, tapped or held.
  struct Fn {
    friend bool operator==(const Fn&, const Fn&) = default;
  };
  using Kind = std::variant<Fn, ShiftDouble, HoldKey, Combo>;

  Kind kind = Fn{};
  friend bool operator==(const DictateHotkey&, const DictateHotkey&) = default;
};

// The shortcut as the log names it: "fn", "shiftDouble", "holdKey(keyCode: 61)" or "combo(keyCode: 2, modifiers:
// [command, shift])" with the modifiers in alphabetical order.
[[nodiscard]] std::string describe(const DictateHotkey::Kind& kind);

// The two dictation preferences the host owns.
struct DictatePrefs {
  // Whether the capsule appears beside focused text fields.
  bool floatingMic = true;
  DictateHotkey hotkey;
  friend bool operator==(const DictatePrefs&, const DictatePrefs&) = default;
};

}  // namespace quillet::dictate
