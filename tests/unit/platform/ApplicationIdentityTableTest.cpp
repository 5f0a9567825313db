#include "platform/linux/identity/ApplicationIdentityTable.h"

#include <gtest/gtest.h>

namespace quillet::platform::identity {
namespace {

TEST(ApplicationIdentityTableTest, WellKnownLinuxNamesMapOntoTheIdentifiersTheBehaviourUses) {
  const struct {
    const char* linuxName;
    const char* bundleId;
  } cases[] = {
      {"firefox", "org.mozilla.firefox"},
      {"firefox-esr", "org.mozilla.firefox"},
      {"org.mozilla.firefox", "org.mozilla.firefox"},
      {"chromium", "com.google.Chrome"},
      {"chromium-browser", "com.google.Chrome"},
      {"google-chrome", "com.google.Chrome"},
      {"google-chrome-stable", "com.google.Chrome"},
      {"chrome", "com.google.Chrome"},
      {"org.chromium.Chromium", "com.google.Chrome"},
      {"com.google.Chrome", "com.google.Chrome"},
      {"brave-browser", "com.brave.Browser"},
      {"com.brave.Browser", "com.brave.Browser"},
      {"microsoft-edge", "com.microsoft.edgemac"},
      {"msedge", "com.microsoft.edgemac"},
      {"opera", "com.operasoftware.Opera"},
      {"slack", "com.tinyspeck.slackmacgap"},
      {"com.slack.Slack", "com.tinyspeck.slackmacgap"},
      {"Discord", "com.hnc.Discord"},
      {"com.discordapp.Discord", "com.hnc.Discord"},
      {"code", "com.microsoft.VSCode"},
      {"code-oss", "com.microsoft.VSCode"},
      {"com.visualstudio.code", "com.microsoft.VSCode"},
      {"codium", "com.microsoft.VSCode"},
      {"com.vscodium.codium.desktop", "com.microsoft.VSCode"},
      {"zoom", "us.zoom.xos"},
      {"ZoomLauncher", "us.zoom.xos"},
      {"us.zoom.Zoom", "us.zoom.xos"},
      {"zoom-client", "us.zoom.xos"},
      {"teams-for-linux", "com.microsoft.teams2"},
      {"teams", "com.microsoft.teams2"},
      {"com.github.IsmaelMartinez.teams_for_linux", "com.microsoft.teams2"},
      {"com.microsoft.Teams", "com.microsoft.teams2"},
      {"webex", "com.cisco.webexmeetingsapp"},
      {"CiscoCollabHost", "com.cisco.webexmeetingsapp"},
      {"dev.zed.Zed", "dev.zed.Zed"},
      {"zed-editor", "dev.zed.Zed"},
      {"windsurf", "com.codeium.windsurf"},
      {"cursor", "com.todesktop.230313mzl4w4u92"},
      {"pycharm-community", "com.jetbrains.pycharm"},
      {"jetbrains-idea-ce", "com.jetbrains.intellij"},
      {"webstorm", "com.jetbrains.WebStorm"},
      {"clion", "com.jetbrains.CLion"},
      {"datagrip", "com.jetbrains.datagrip"},
      {"android-studio", "com.google.android.studio"},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(ApplicationIdentityTable::knownBundleId(testCase.linuxName), testCase.bundleId) << testCase.linuxName;
    EXPECT_EQ(ApplicationIdentityTable::bundleIdFor(testCase.linuxName), testCase.bundleId) << testCase.linuxName;
  }
}

TEST(ApplicationIdentityTableTest, MatchingIgnoresCaseTheDesktopSuffixAndTheSnapApplicationPart) {
  const struct {
    const char* linuxName;
    const char* bundleId;
  } cases[] = {
      {"Zoom.desktop", "us.zoom.xos"},
      {"FIREFOX", "org.mozilla.firefox"},
      {"org.mozilla.firefox.desktop", "org.mozilla.firefox"},
      {"google-chrome.DESKTOP", "com.google.Chrome"},
      {"firefox_firefox.desktop", "org.mozilla.firefox"},
      {"zoom-client_zoom-client", "us.zoom.xos"},
      {"US.ZOOM.XOS", "us.zoom.xos"},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(ApplicationIdentityTable::knownBundleId(testCase.linuxName), testCase.bundleId) << testCase.linuxName;
  }
}

TEST(ApplicationIdentityTableTest, UnknownNamesAreNotKnownAndKeepTheirOwnId) {
  const struct {
    const char* linuxName;
    const char* ownId;
  } cases[] = {
      {"org.gnome.Calculator", "org.gnome.Calculator"},
      {"org.gnome.Calculator.desktop", "org.gnome.Calculator"},
      {"bash", "bash"},
      {"firefoxy", "firefoxy"},
      {"code-insiders", "code-insiders"},
      {"_firefox", "_firefox"},
      {".desktop", ".desktop"},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(ApplicationIdentityTable::knownBundleId(testCase.linuxName), std::nullopt) << testCase.linuxName;
    EXPECT_EQ(ApplicationIdentityTable::bundleIdFor(testCase.linuxName), testCase.ownId) << testCase.linuxName;
  }
}

TEST(ApplicationIdentityTableTest, AnEmptyNameHasNoIdentity) {
  EXPECT_EQ(ApplicationIdentityTable::knownBundleId(""), std::nullopt);
  EXPECT_EQ(ApplicationIdentityTable::bundleIdFor(""), std::nullopt);
}

}  // namespace
}  // namespace quillet::platform::identity
