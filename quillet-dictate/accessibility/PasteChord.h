#pragma once

#include <string_view>

#include "platform/KeySynth.h"

namespace quillet::dictate {

// Whether the application is a terminal emulator: there Control+V goes to the program in the
// terminal, and pasting takes Control+Shift+V.
[[nodiscard]] bool isTerminalEmulator(std::string_view bundleId);

// The keystroke that pastes the clipboard into the application's focused field.
[[nodiscard]] platform::KeyChord pasteChordFor(std::string_view bundleId);

}  // namespace quillet::dictate
