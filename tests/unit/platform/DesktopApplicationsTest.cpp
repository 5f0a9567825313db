#include "platform/linux/xdg/DesktopApplications.h"

#include <gtest/gtest.h>

#include <map>

#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::platform::xdg {
namespace {

using Environment = std::map<std::string, std::string>;

DesktopApplications applicationsWith(const Environment& environment) {
  return DesktopApplications([environment](const char* name) -> std::optional<std::string> {
    const auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return found->second;
  });
}

TEST(DesktopApplicationsTest, FoldersFollowTheEnvironmentWithTheirFallbacks) {
  using Folders = std::vector<std::filesystem::path>;
  const struct {
    const char* description;
    Environment environment;
    Folders folders;
  } cases[] = {
      {"both set",
       {{"XDG_DATA_HOME", "/data"}, {"XDG_DATA_DIRS", "/a:/b/"}, {"HOME", "/home/u"}},
       {"/data/applications", "/a/applications", "/b/applications"}},
      {"nothing set", {{"HOME", "/home/u"}},
       {"/home/u/.local/share/applications", "/usr/local/share/applications", "/usr/share/applications"}},
      {"empty settings", {{"XDG_DATA_HOME", ""}, {"XDG_DATA_DIRS", ""}, {"HOME", "/home/u"}},
       {"/home/u/.local/share/applications", "/usr/local/share/applications", "/usr/share/applications"}},
      {"relative and empty entries are ignored",
       {{"XDG_DATA_HOME", "data"}, {"XDG_DATA_DIRS", "rel::/c"}, {"HOME", "/home/u"}},
       {"/home/u/.local/share/applications", "/c/applications"}},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(applicationsWith(testCase.environment).applicationFolders(), testCase.folders) << testCase.description;
  }
}

class DesktopApplicationsFoldersTest : public ::testing::Test {
 protected:
  void install(const std::string& folder, const std::string& relativePath, const std::string& contents) const {
    const auto path = root_.path() / folder / "applications" / relativePath;
    std::filesystem::create_directories(path.parent_path());
    test::writeFile(path, contents);
  }

  [[nodiscard]] DesktopApplications applications() const {
    return applicationsWith({{"XDG_DATA_HOME", (root_.path() / "home").string()},
                             {"XDG_DATA_DIRS", (root_.path() / "local").string() + ":" + (root_.path() / "system").string()}});
  }

  static std::string application(const std::string& mimeTypes, const std::string& more = "") {
    return "[Desktop Entry]\nType=Application\nName=App\nExec=app %u\nMimeType=" + mimeTypes + "\n" + more;
  }

  test::TemporaryDirectory root_;
};

using Ids = std::vector<std::string>;

TEST_F(DesktopApplicationsFoldersTest, BrowsersAreTheApplicationsListingTheHttpsScheme) {
  install("system", "firefox.desktop", application("text/html;x-scheme-handler/http;x-scheme-handler/https;"));
  install("system", "org.gnome.Calculator.desktop", application("application/x-calc;"));
  install("system", "kde4/konqueror.desktop", application("x-scheme-handler/https"));
  install("system", "link.desktop", "[Desktop Entry]\nType=Link\nURL=https://x\nMimeType=x-scheme-handler/https;\n");
  install("system", "readme.txt", application("x-scheme-handler/https;"));
  install("local", "chrome.desktop",
          "# MimeType=x-scheme-handler/https;\n[Desktop Entry]\nType = Application\nMimeType = x-scheme-handler/https ;\n");
  install("system", "actions.desktop",
          application("text/plain;") + "[Desktop Action open]\nMimeType=x-scheme-handler/https;\n");
  install("system", "localised.desktop", application("text/plain;") + "MimeType[de]=x-scheme-handler/https;\n");
  install("system", "escaped.desktop", application("x-scheme-handler/https\\;not;"));

  EXPECT_EQ(applications().webBrowserIds(), (Ids{"chrome.desktop", "firefox.desktop", "kde4-konqueror.desktop"}));
  EXPECT_EQ(applications().idsHandling("application/x-calc"), (Ids{"org.gnome.Calculator.desktop"}));
  EXPECT_EQ(applications().idsHandling("text/plain"), (Ids{"actions.desktop", "localised.desktop"}));
}

TEST_F(DesktopApplicationsFoldersTest, EarlierFoldersOverrideLaterOnesByIdAndHiddenRemovesTheId) {
  install("system", "firefox.desktop", application("x-scheme-handler/https;"));
  install("system", "brave.desktop", application("x-scheme-handler/https;"));
  install("system", "opera.desktop", application("x-scheme-handler/https;"));
  install("system", "zoom.desktop", application("x-scheme-handler/zoommtg;"));
  install("home", "firefox.desktop", application("text/html;"));
  install("local", "brave.desktop", application("x-scheme-handler/https;", "Hidden=true\n"));
  install("home", "zoom.desktop", application("x-scheme-handler/https;"));
  install("local", "opera.desktop", application("x-scheme-handler/https;", "Hidden=false\n"));
  // A hidden entry in a later folder does not reach back to an earlier one.
  install("home", "chromium.desktop", application("x-scheme-handler/https;"));
  install("system", "chromium.desktop", application("x-scheme-handler/https;", "Hidden=true\n"));

  EXPECT_EQ(applications().webBrowserIds(), (Ids{"chromium.desktop", "opera.desktop", "zoom.desktop"}));
}

TEST_F(DesktopApplicationsFoldersTest, MissingFoldersAndUnreadableFilesAreNoApplications) {
  EXPECT_TRUE(applications().webBrowserIds().empty());
  install("system", "empty.desktop", "");
  install("system", "binary.desktop", std::string("\0\xff[Desktop Entry]\0", 19));
  std::filesystem::create_directories(root_.path() / "system/applications/folder.desktop");
  EXPECT_TRUE(applications().webBrowserIds().empty());
}

}  // namespace
}  // namespace quillet::platform::xdg
