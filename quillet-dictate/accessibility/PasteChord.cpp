#include "quillet-dictate/accessibility/PasteChord.h"

#include <algorithm>
#include <array>

namespace quillet::dictate {

namespace {

// The identities terminals get on Linux: the table of application identities leaves them their own
// desktop-file id or executable name, so each terminal is listed under the names it may go by.
constexpr std::array<std::string_view, 39> kTerminalIds = {
    "org.gnome.Terminal", "gnome-terminal", "gnome-terminal-server",   // GNOME Terminal
    "org.gnome.Console", "kgx",                                          // GNOME Console
    "org.gnome.Ptyxis", "ptyxis", "ptyxis-agent",                        // Ptyxis
    "org.kde.konsole", "konsole",                                        // Konsole
    "org.kde.yakuake", "yakuake",                                        // Yakuake
    "Alacritty", "org.alacritty.Alacritty",                              // Alacritty
    "kitty", "net.kovidgoyal.kitty",                                     // kitty
    "com.gexperts.Tilix", "tilix",                                       // Tilix
    "terminator",                                                        // Terminator
    "org.wezfurlong.wezterm", "wezterm", "wezterm-gui",                  // WezTerm
    "xfce4-terminal", "org.xfce.terminal",                               // XFCE Terminal
    "foot", "footclient", "org.codeberg.dnkl.foot", "org.codeberg.dnkl.footclient",  // foot
    "mate-terminal",                                                     // MATE Terminal
    "lxterminal",                                                        // LXTerminal
    "qterminal", "org.lxqt.QTerminal",                                   // QTerminal
    "terminology",                                                       // Terminology
    "com.raggesilver.BlackBox", "blackbox",                              // Black Box
    "com.mitchellh.ghostty", "ghostty",                                  // Ghostty
    "guake",                                                             // Guake
    "tilda",                                                             // Tilda
};

// Terminals in xterm's line: Shift+Insert pastes the primary selection, and Control+Shift+V reaches the
// program in the terminal as ^V.
constexpr std::array<std::string_view, 12> kXtermFamilyIds = {
    "xterm", "uxterm", "debian-xterm", "debian-uxterm",  // xterm
    "urxvt", "rxvt", "rxvt-unicode", "urxvtc",           // rxvt-unicode
    "st", "st-256color",                                 // st
    "aterm", "eterm",
};

bool equalIgnoringAsciiCase(std::string_view left, std::string_view right) {
  const auto lower = [](char character) {
    return character >= 'A' && character <= 'Z' ? static_cast<char>(character - 'A' + 'a') : character;
  };
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(), [&](char a, char b) { return lower(a) == lower(b); });
}

// Identities are matched without regard to ASCII case, as the identity table matches Linux names.
template <std::size_t size>
bool isListed(const std::array<std::string_view, size>& identities, std::string_view bundleId) {
  return std::any_of(identities.begin(), identities.end(),
                     [&](std::string_view listed) { return equalIgnoringAsciiCase(listed, bundleId); });
}

}  // namespace

bool isTerminalEmulator(std::string_view bundleId) {
  return isListed(kTerminalIds, bundleId) || isListed(kXtermFamilyIds, bundleId);
}

PasteChord pasteChordFor(std::string_view bundleId) {
  using platform::ModifierKey;
  if (isListed(kXtermFamilyIds, bundleId)) return {{{ModifierKey::shift}, "Insert"}, true};
  if (isListed(kTerminalIds, bundleId)) return {{{ModifierKey::control, ModifierKey::shift}, "v"}, false};
  return {{{ModifierKey::control}, "v"}, false};
}

}  // namespace quillet::dictate
