#include "quillet-dictate/accessibility/PasteChord.h"

#include <gtest/gtest.h>

namespace quillet::dictate {
namespace {

using platform::ModifierKey;

TEST(PasteChordTest, EachKindOfApplicationGetsTheChordThatPastesThere) {
  const PasteChord xtermPaste{{{ModifierKey::shift}, "Insert"}, true};
  const PasteChord terminalPaste{{{ModifierKey::control, ModifierKey::shift}, "v"}, false};
  const PasteChord ordinaryPaste{{{ModifierKey::control}, "v"}, false};
  static const struct {
    const char* bundleId;
    const PasteChord* chord;
  } cases[] = {
      {"xterm", &xtermPaste},
      {"debian-xterm", &xtermPaste},
      {"XTerm", &xtermPaste},  // identities of unknown applications keep the case Linux gave them
      {"urxvt", &xtermPaste},
      {"st-256color", &xtermPaste},
      {"org.gnome.Terminal", &terminalPaste},
      {"gnome-terminal-server", &terminalPaste},
      {"org.kde.konsole", &terminalPaste},
      {"konsole", &terminalPaste},
      {"Alacritty", &terminalPaste},
      {"alacritty", &terminalPaste},
      {"kitty", &terminalPaste},
      {"com.gexperts.Tilix", &terminalPaste},
      {"terminator", &terminalPaste},
      {"org.wezfurlong.wezterm", &terminalPaste},
      {"xfce4-terminal", &terminalPaste},
      {"foot", &terminalPaste},
      {"footclient", &terminalPaste},
      {"org.mozilla.firefox", &ordinaryPaste},
      {"com.tinyspeck.slackmacgap", &ordinaryPaste},
      {"com.microsoft.VSCode", &ordinaryPaste},  // its built-in terminal is a field of the editor
      {"gnome-terminal-preferences", &ordinaryPaste},
      {"terminal", &ordinaryPaste},
      {"", &ordinaryPaste},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.bundleId);
    EXPECT_EQ(isTerminalEmulator(testCase.bundleId), testCase.chord != &ordinaryPaste);
    EXPECT_EQ(pasteChordFor(testCase.bundleId), *testCase.chord);
  }
}

}  // namespace
}  // namespace quillet::dictate
