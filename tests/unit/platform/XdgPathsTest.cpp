#include "platform/linux/xdg/XdgPaths.h"

#include <gtest/gtest.h>

#include <map>

namespace quillet::platform::xdg {
namespace {

TEST(XdgPathsTest, FoldersFollowTheEnvironmentWithTheirFallbacks) {
  struct Case {
    const char* description;
    std::map<std::string, std::string> environment;
    const char* configHome;
    const char* temporary;
  };
  const Case cases[] = {
      {"both set", {{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/u"}, {"TMPDIR", "/var/tmp"}}, "/cfg", "/var/tmp"},
      {"config home unset", {{"HOME", "/home/u"}}, "/home/u/.config", "/tmp"},
      {"config home empty", {{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}}, "/home/u/.config", "/tmp"},
      {"relative paths are ignored", {{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/u"}, {"TMPDIR", "tmp"}},
       "/home/u/.config", "/tmp"},
  };
  for (const auto& testCase : cases) {
    XdgPaths paths([&](const char* name) -> std::optional<std::string> {
      auto found = testCase.environment.find(name);
      if (found == testCase.environment.end()) return std::nullopt;
      return found->second;
    });
    EXPECT_EQ(paths.configHome(), testCase.configHome) << testCase.description;
    EXPECT_EQ(paths.temporaryDirectory(), testCase.temporary) << testCase.description;
    EXPECT_EQ(paths.applicationSupport(), std::filesystem::path(testCase.configHome) / "Quillet")
        << testCase.description;
  }
}

}  // namespace
}  // namespace quillet::platform::xdg
