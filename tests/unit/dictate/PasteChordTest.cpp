#include "quillet-dictate/accessibility/PasteChord.h"

#include <gtest/gtest.h>

namespace quillet::dictate {
namespace {

using platform::KeyChord;
using platform::ModifierKey;

TEST(PasteChordTest, TerminalsPasteWithShiftAndEverythingElseWithControlV) {
  const KeyChord terminalPaste{{ModifierKey::control, ModifierKey::shift}, "v"};
  const KeyChord ordinaryPaste{{ModifierKey::control}, "v"};
  static const struct {
    const char* bundleId;
    bool terminal;
  } cases[] = {
      {"org.gnome.Terminal", true},
      {"gnome-terminal-server", true},
      {"org.kde.konsole", true},
      {"konsole", true},
      {"xterm", true},
      {"Alacritty", true},
      {"alacritty", true},  // identities of unknown applications keep the case Linux gave them
      {"kitty", true},
      {"com.gexperts.Tilix", true},
      {"terminator", true},
      {"org.wezfurlong.wezterm", true},
      {"xfce4-terminal", true},
      {"foot", true},
      {"footclient", true},
      {"org.mozilla.firefox", false},
      {"com.tinyspeck.slackmacgap", false},
      {"com.microsoft.VSCode", false},  // its built-in terminal is a field of the editor
      {"gnome-terminal-preferences", false},
      {"terminal", false},
      {"", false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.bundleId);
    EXPECT_EQ(isTerminalEmulator(testCase.bundleId), testCase.terminal);
    EXPECT_EQ(pasteChordFor(testCase.bundleId), testCase.terminal ? terminalPaste : ordinaryPaste);
  }
}

}  // namespace
}  // namespace quillet::dictate
