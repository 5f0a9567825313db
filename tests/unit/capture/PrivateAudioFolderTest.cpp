#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "CollectedLines.h"
#include "quillet-capture/files/PrivateAudioFolder.h"
#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::capture {
namespace {

namespace fs = std::filesystem;
using testing::CollectedLines;

mode_t permissionsOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return status.st_mode & 07777;
}

bool isPlainDirectory(const fs::path& path) { return fs::is_directory(fs::symlink_status(path)); }

TEST(PrivateAudioFolderTest, CreatesAMissingFolderAndItsParentsForThisUserAlone) {
  test::TemporaryDirectory root;
  const fs::path temporary = root.path() / "missing" / "tmp";
  CollectedLines diagnostics;

  const auto folder = PrivateAudioFolder::choose(temporary, root.path() / "runtime", diagnostics.sink());

  EXPECT_TRUE(folder.usable());
  EXPECT_EQ(folder.path(), temporary / "quillet-audio");
  EXPECT_TRUE(folder.path().is_absolute());
  EXPECT_TRUE(isPlainDirectory(folder.path()));
  EXPECT_EQ(permissionsOf(folder.path()), 0700U);
  EXPECT_EQ(permissionsOf(temporary), 0700U) << "a parent we create is private too";
  EXPECT_FALSE(fs::exists(root.path() / "runtime")) << "the fallback is not touched when it is not needed";
  EXPECT_TRUE(diagnostics.lines().empty());
}

TEST(PrivateAudioFolderTest, KeepsAnExistingPrivateFolderAsItIs) {
  test::TemporaryDirectory root;
  const fs::path existing = root.path() / "quillet-audio";
  ASSERT_TRUE(fs::create_directory(existing));
  fs::permissions(existing, fs::perms::owner_all, fs::perm_options::replace);
  test::writeFile(existing / "ql-you-0.wav", "left for the host");
  CollectedLines diagnostics;

  const auto folder = PrivateAudioFolder::choose(root.path(), std::nullopt, diagnostics.sink());

  EXPECT_TRUE(folder.usable());
  EXPECT_EQ(folder.path(), existing);
  EXPECT_EQ(test::readFile(existing / "ql-you-0.wav"), "left for the host");
  EXPECT_TRUE(diagnostics.lines().empty());
}

// Each way another local user could have prepared the shared folder ahead of us.
struct Trap {
  const char* name;
  std::function<void(const fs::path& folder, const fs::path& elsewhere)> plant;
  const char* reason;
};

const Trap kTraps[] = {
    {"a symbolic link to a private folder",
     [](const fs::path& folder, const fs::path& elsewhere) {
       fs::create_directory(elsewhere);
       fs::permissions(elsewhere, fs::perms::owner_all, fs::perm_options::replace);
       fs::create_directory_symlink(elsewhere, folder);
     },
     "it is a symbolic link"},
    {"a dangling symbolic link",
     [](const fs::path& folder, const fs::path& elsewhere) { fs::create_directory_symlink(elsewhere, folder); },
     "it is a symbolic link"},
    {"a plain file", [](const fs::path& folder, const fs::path&) { test::writeFile(folder, "not a folder"); },
     "it is not a directory"},
    {"a folder open to everyone",
     [](const fs::path& folder, const fs::path&) {
       fs::create_directory(folder);
       fs::permissions(folder, fs::perms::all, fs::perm_options::replace);
     },
     "other users can access it"},
    {"a folder the group may read",
     [](const fs::path& folder, const fs::path&) {
       fs::create_directory(folder);
       fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                       fs::perm_options::replace);
     },
     "other users can access it"},
};

TEST(PrivateAudioFolderTest, RefusesAFolderOthersCouldReachAndFallsBackToTheRuntimeDirectory) {
  for (const Trap& trap : kTraps) {
    SCOPED_TRACE(trap.name);
    test::TemporaryDirectory root;
    const fs::path temporary = root.path() / "tmp";
    const fs::path runtime = root.path() / "run";
    fs::create_directories(temporary);
    fs::create_directories(runtime);
    const fs::path shared = temporary / "quillet-audio";
    trap.plant(shared, root.path() / "elsewhere");
    CollectedLines diagnostics;

    const auto folder = PrivateAudioFolder::choose(temporary, runtime, diagnostics.sink());

    EXPECT_TRUE(folder.usable());
    EXPECT_EQ(folder.path(), runtime / "quillet-audio");
    EXPECT_TRUE(isPlainDirectory(folder.path()));
    EXPECT_EQ(permissionsOf(folder.path()), 0700U);
    EXPECT_EQ(diagnostics.lines(),
              (std::vector<std::string>{"[whisper] not using " + shared.string() + " for audio chunks: " + trap.reason +
                                        " — writing them to " + folder.path().string() + "\n"}));
    EXPECT_TRUE(fs::exists(fs::symlink_status(shared))) << "what was planted is left alone";
  }
}

TEST(PrivateAudioFolderTest, WithoutAUsableFallbackNoFolderIsUsable) {
  test::TemporaryDirectory root;
  const fs::path temporary = root.path() / "tmp";
  fs::create_directories(temporary / "quillet-audio");
  fs::permissions(temporary / "quillet-audio", fs::perms::all, fs::perm_options::replace);
  const fs::path shared = temporary / "quillet-audio";

  {
    SCOPED_TRACE("no runtime directory");
    CollectedLines diagnostics;
    const auto folder = PrivateAudioFolder::choose(temporary, std::nullopt, diagnostics.sink());
    EXPECT_FALSE(folder.usable());
    EXPECT_EQ(folder.path(), shared);
    EXPECT_EQ(diagnostics.lines(),
              (std::vector<std::string>{"[whisper] not using " + shared.string() +
                                        " for audio chunks: other users can access it — no runtime directory to fall "
                                        "back on, no chunk can be written\n"}));
  }
  {
    SCOPED_TRACE("a relative runtime directory is not trusted");
    CollectedLines diagnostics;
    EXPECT_FALSE(PrivateAudioFolder::choose(temporary, fs::path("run"), diagnostics.sink()).usable());
  }
  {
    SCOPED_TRACE("the fallback is refused too");
    const fs::path runtime = root.path() / "run";
    fs::create_directories(runtime);
    test::writeFile(runtime / "quillet-audio", "not a folder");
    CollectedLines diagnostics;
    const auto folder = PrivateAudioFolder::choose(temporary, runtime, diagnostics.sink());
    EXPECT_FALSE(folder.usable());
    EXPECT_EQ(folder.path(), shared);
    EXPECT_EQ(diagnostics.lines(),
              (std::vector<std::string>{"[whisper] not using " + shared.string() +
                                            " for audio chunks: other users can access it — trying " +
                                            (runtime / "quillet-audio").string() + "\n",
                                        "[whisper] not using " + (runtime / "quillet-audio").string() +
                                            " for audio chunks: it is not a directory — no chunk can be written\n"}));
  }
}

TEST(PrivateAudioFolderTest, CreateMissingLeavesExistingFoldersAsTheyAre) {
  test::TemporaryDirectory root;
  fs::create_directories(root.path() / "host");
  fs::permissions(root.path() / "host", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                  fs::perm_options::replace);

  EXPECT_FALSE(PrivateAudioFolder::createMissing(root.path() / "host" / "staging" / "meeting"));

  EXPECT_EQ(permissionsOf(root.path() / "host"), 0750U);
  EXPECT_EQ(permissionsOf(root.path() / "host" / "staging"), 0700U);
  EXPECT_EQ(permissionsOf(root.path() / "host" / "staging" / "meeting"), 0700U);
}

TEST(PrivateAudioFolderTest, CreateMissingReportsAFileInTheWay) {
  test::TemporaryDirectory root;
  test::writeFile(root.path() / "file", "in the way");
  EXPECT_EQ(PrivateAudioFolder::createMissing(root.path() / "file" / "staging"), std::errc::not_a_directory);
}

}  // namespace
}  // namespace quillet::capture
