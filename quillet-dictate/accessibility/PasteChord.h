#pragma once

#include <string_view>

#include "platform/KeySynth.h"

namespace quillet::dictate {

// How an application takes a paste: the keystroke, and which selection it reads.
struct PasteChord {
  platform::KeyChord keys;
  // xterm and its kin paste the primary selection (Shift+Insert), not the clipboard, so the text goes
  // onto both.
  bool readsPrimarySelection = false;

  friend bool operator==(const PasteChord&, const PasteChord&) = default;
};

// Whether the application is a terminal emulator: there Control+V goes to the program in the terminal.
[[nodiscard]] bool isTerminalEmulator(std::string_view bundleId);

// The keystroke that pastes into the application's focused field: Control+V in ordinary applications,
// Control+Shift+V in terminals that offer it (VTE-based ones, Konsole, kitty, Alacritty, foot, WezTerm),
// and Shift+Insert with the primary selection in the xterm family, where Control+Shift+V types ^V.
[[nodiscard]] PasteChord pasteChordFor(std::string_view bundleId);

}  // namespace quillet::dictate
