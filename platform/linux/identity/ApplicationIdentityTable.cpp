#include "platform/linux/identity/ApplicationIdentityTable.h"

#include <cassert>
#include <initializer_list>
#include <unordered_map>

namespace quillet::platform::identity {

namespace {

// One application: the identifier the behaviour knows it by, and the names Linux gives it.
// docs/app-identities.md says where each name comes from.
struct KnownApplication {
  std::string_view bundleId;
  std::initializer_list<std::string_view> linuxNames;
};

const KnownApplication knownApplications[] = {
    // Browsers.
    {"org.mozilla.firefox", {"firefox", "firefox-esr", "firefox-bin"}},
    {"com.google.Chrome",
     {"google-chrome", "google-chrome-stable", "google-chrome-beta", "google-chrome-unstable", "chrome", "chromium",
      "chromium-browser", "org.chromium.Chromium"}},
    {"com.brave.Browser", {"brave", "brave-browser", "brave-browser-stable", "brave-browser-beta"}},
    {"com.microsoft.edgemac",
     {"microsoft-edge", "microsoft-edge-stable", "microsoft-edge-beta", "microsoft-edge-dev", "msedge",
      "com.microsoft.Edge"}},
    {"com.operasoftware.Opera", {"opera", "com.opera.Opera"}},
    // Chat.
    {"com.tinyspeck.slackmacgap", {"slack", "com.slack.Slack"}},
    {"com.hnc.Discord", {"discord", "com.discordapp.Discord"}},
    // Meetings.
    {"us.zoom.xos", {"zoom", "ZoomLauncher", "us.zoom.Zoom", "zoom-client"}},
    {"com.microsoft.teams2",
     {"teams-for-linux", "teams", "com.github.IsmaelMartinez.teams_for_linux", "com.microsoft.Teams"}},
    {"com.cisco.webexmeetingsapp", {"webex", "CiscoCollabHost", "com.cisco.webex"}},
    // Editors and IDEs.
    {"com.microsoft.VSCode",
     {"code", "code-oss", "com.visualstudio.code", "com.visualstudio.code-oss", "codium", "vscodium",
      "com.vscodium.codium"}},
    {"dev.zed.Zed", {"zed", "zed-editor", "zeditor"}},
    {"com.codeium.windsurf", {"windsurf"}},
    {"com.todesktop.230313mzl4w4u92", {"cursor"}},
    {"com.jetbrains.pycharm",
     {"pycharm", "pycharm-community", "pycharm-professional", "jetbrains-pycharm", "jetbrains-pycharm-ce",
      "com.jetbrains.PyCharm-Community", "com.jetbrains.PyCharm-Professional"}},
    {"com.jetbrains.intellij",
     {"idea", "intellij-idea-community", "intellij-idea-ultimate", "jetbrains-idea", "jetbrains-idea-ce",
      "com.jetbrains.IntelliJ-IDEA-Community", "com.jetbrains.IntelliJ-IDEA-Ultimate"}},
    {"com.jetbrains.WebStorm", {"webstorm", "jetbrains-webstorm"}},
    {"com.jetbrains.CLion", {"clion", "jetbrains-clion"}},
    {"com.jetbrains.datagrip", {"datagrip", "jetbrains-datagrip", "com.jetbrains.DataGrip"}},
    {"com.google.android.studio", {"android-studio", "studio", "jetbrains-studio", "com.google.AndroidStudio"}},
};

constexpr std::string_view desktopFileSuffix = ".desktop";

std::string lowerCaseAscii(std::string_view text) {
  std::string lowered(text);
  for (char& character : lowered) {
    if (character >= 'A' && character <= 'Z') character = char(character - 'A' + 'a');
  }
  return lowered;
}

// The form every name is compared in: lower case, without the desktop-file suffix.
std::string comparableName(std::string_view name) {
  std::string comparable = lowerCaseAscii(name);
  if (comparable.size() > desktopFileSuffix.size() && comparable.ends_with(desktopFileSuffix)) {
    comparable.resize(comparable.size() - desktopFileSuffix.size());
  }
  return comparable;
}

using NameIndex = std::unordered_map<std::string, std::string_view>;

void addName(NameIndex& index, std::string_view name, std::string_view bundleId) {
  [[maybe_unused]] const auto [entry, inserted] = index.emplace(comparableName(name), bundleId);
  // Two applications claiming one name would make the answer depend on the table's order; the debug build,
  // which runs the whole suite, stops at such a table, and a release keeps the first listing.
  assert(inserted || entry->second == bundleId);
}

// Every Linux name, and each identifier itself (an application may already be known by it), by comparable form.
const NameIndex& nameIndex() {
  static const NameIndex index = [] {
    NameIndex built;
    for (const auto& application : knownApplications) {
      addName(built, application.bundleId, application.bundleId);
      for (std::string_view name : application.linuxNames) addName(built, name, application.bundleId);
    }
    return built;
  }();
  return index;
}

}  // namespace

std::optional<std::string> ApplicationIdentityTable::knownBundleId(std::string_view linuxName) {
  const std::string comparable = comparableName(linuxName);
  if (comparable.empty()) return std::nullopt;
  const NameIndex& index = nameIndex();
  if (const auto found = index.find(comparable); found != index.end()) return std::string(found->second);
  // Snap desktop files are named "<snap>_<app>.desktop"; snap names themselves never hold an underscore.
  if (const auto underscore = comparable.find('_'); underscore != std::string::npos && underscore > 0) {
    if (const auto found = index.find(comparable.substr(0, underscore)); found != index.end()) {
      return std::string(found->second);
    }
  }
  return std::nullopt;
}

std::optional<std::string> ApplicationIdentityTable::bundleIdFor(std::string_view linuxName) {
  if (auto known = knownBundleId(linuxName)) return known;
  if (linuxName.size() > desktopFileSuffix.size() && lowerCaseAscii(linuxName).ends_with(desktopFileSuffix)) {
    linuxName.remove_suffix(desktopFileSuffix.size());
  }
  if (linuxName.empty()) return std::nullopt;
  return std::string(linuxName);
}

}  // namespace quillet::platform::identity
