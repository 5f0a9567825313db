#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string_view>

#include "quillet-capture/protocol/FullWrite.h"
#include "quillet-capture/files/PrivateFile.h"
#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::capture {
namespace {

namespace fs = std::filesystem;

// Writes `text` through whatever `result` holds; fails the test when it holds an error.
void writeThrough(PrivateFile::Result result, std::string_view text) {
  ASSERT_TRUE(result.hasValue()) << result.error().message();
  EXPECT_FALSE(writeFully(result.value().descriptor(), text));
}

std::error_code errorOf(const PrivateFile::Result& result) {
  return result.failed() ? result.error() : std::error_code();
}

TEST(PrivateFileTest, CreatesAFileOnlyItsOwnerMayReadOrWrite) {
  test::TemporaryDirectory root;
  const fs::path path = root.path() / "ql-you-0.wav";
  writeThrough(PrivateFile::createNew(path), "RIFF");

  struct stat status {};
  ASSERT_EQ(::lstat(path.c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(status.st_mode & 0777, 0600U);
  EXPECT_EQ(test::readFile(path), "RIFF");
}

TEST(PrivateFileTest, CreateNewNeverWritesOverOrThroughAnExistingName) {
  test::TemporaryDirectory root;
  const fs::path victim = root.path() / "victim";
  test::writeFile(victim, "precious");
  static const struct {
    const char* name;
    void (*plant)(const fs::path& path, const fs::path& victim);
  } cases[] = {
      {"a file", [](const fs::path& path, const fs::path&) { test::writeFile(path, "earlier"); }},
      {"a link to a file", [](const fs::path& path, const fs::path& target) { fs::create_symlink(target, path); }},
      {"a dangling link",
       [](const fs::path& path, const fs::path& target) { fs::create_symlink(target.string() + ".none", path); }},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    const fs::path path = root.path() / testCase.name;
    testCase.plant(path, victim);
    EXPECT_EQ(errorOf(PrivateFile::createNew(path)), std::errc::file_exists);
    EXPECT_EQ(test::readFile(victim), "precious");
    EXPECT_FALSE(fs::exists(victim.string() + ".none"));
  }
}

TEST(PrivateFileTest, ReplaceRemovesTheNameNotWhatItPointsTo) {
  test::TemporaryDirectory root;
  const fs::path victim = root.path() / "victim";
  test::writeFile(victim, "precious");
  const fs::path linked = root.path() / "mic.wav";
  fs::create_symlink(victim, linked);
  const fs::path earlier = root.path() / "system.wav";
  test::writeFile(earlier, "last meeting's recording");

  writeThrough(PrivateFile::replace(linked), "new");
  writeThrough(PrivateFile::replace(earlier), "new too");
  writeThrough(PrivateFile::replace(root.path() / "fresh.wav"), "fresh");

  EXPECT_EQ(test::readFile(victim), "precious");
  EXPECT_FALSE(fs::is_symlink(linked));
  EXPECT_EQ(test::readFile(linked), "new");
  EXPECT_EQ(test::readFile(earlier), "new too");
  EXPECT_EQ(test::readFile(root.path() / "fresh.wav"), "fresh");
}

TEST(PrivateFileTest, ReplaceReportsANameItCannotRemove) {
  test::TemporaryDirectory root;
  fs::create_directories(root.path() / "mic.wav" / "inside");
  EXPECT_TRUE(errorOf(PrivateFile::replace(root.path() / "mic.wav")));
  EXPECT_TRUE(fs::exists(root.path() / "mic.wav" / "inside"));
}

}  // namespace
}  // namespace quillet::capture
