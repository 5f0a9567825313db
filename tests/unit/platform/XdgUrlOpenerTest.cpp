#include "platform/linux/xdg/XdgUrlOpener.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::platform::xdg {
namespace {

// Puts `folder` first on PATH for the test's lifetime.
class PathPrefix {
 public:
  explicit PathPrefix(const std::filesystem::path& folder) {
    const char* path = std::getenv("PATH");
    original_ = path != nullptr ? path : "";
    setenv("PATH", (folder.string() + ":" + original_).c_str(), 1);
  }
  ~PathPrefix() { setenv("PATH", original_.c_str(), 1); }

 private:
  std::string original_;
};

TEST(XdgUrlOpenerTest, StartsTheFirstInstalledSettingsProgramWithItsArguments) {
  test::TemporaryDirectory folder;
  const auto program = folder.path() / "quillet-fake-sound-settings";
  const auto marker = folder.path() / "opened";
  test::writeFile(program, "#!/bin/sh\necho \"$@\" > \"" + marker.string() + ".tmp\" && mv \"" + marker.string() +
                               ".tmp\" \"" + marker.string() + "\"\n");
  ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
  PathPrefix path(folder.path());

  XdgUrlOpener opener({{"quillet-missing-settings-program", "x"}, {"quillet-fake-sound-settings", "sound", "input"}});
  EXPECT_EQ(opener.openSoundSettings(), succeeded());

  // The program runs detached; wait for what it leaves behind.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(test::readFile(marker), "sound input\n");
}

TEST(XdgUrlOpenerTest, DoesNothingWhenNoSettingsProgramIsInstalled) {
  XdgUrlOpener opener({{"quillet-missing-settings-program"}, {}});
  EXPECT_EQ(opener.openSoundSettings(), Status(Error("no sound settings program is installed")));
}

}  // namespace
}  // namespace quillet::platform::xdg
