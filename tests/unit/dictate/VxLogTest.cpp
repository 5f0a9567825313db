#include "quillet-dictate/shell/VxLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"
#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

// The instant at which the local clock reads hour:minute:second.millisecond on a winter day.
std::chrono::system_clock::time_point localTime(int hour, int minute, int second, int millisecond) {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 0;
  local.tm_mday = 15;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&local)) + std::chrono::milliseconds(millisecond);
}

class VxLogTest : public ::testing::Test {
 protected:
  test::TemporaryDirectory folder;
  fs::path logFile = folder.path() / "vessio.log";
  platform::fake::VirtualMainLoop clock{localTime(9, 5, 3, 42)};
  std::string mirrored;
  VxLog log{logFile, clock, [this](std::string_view line) { mirrored.append(line); }};
};

TEST(VxLogFormatTest, LineIsLocalTimeToTheMillisecondThenMessage) {
  struct Case {
    int hour, minute, second, millisecond;
    const char* message;
    const char* expected;
  };
  const Case cases[] = {
      {9, 5, 3, 42, "🎙️ recording", "[09:05:03.042] 🎙️ recording\n"},
      {0, 0, 0, 0, "midnight", "[00:00:00.000] midnight\n"},
      {23, 59, 59, 999, "", "[23:59:59.999] \n"},
      {12, 30, 7, 500, "line\nwith break", "[12:30:07.500] line\nwith break\n"},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(VxLog::formatLine(localTime(testCase.hour, testCase.minute, testCase.second, testCase.millisecond),
                                testCase.message),
              testCase.expected);
  }
}

TEST_F(VxLogTest, SameBytesReachTheFileAndTheMirrorAndLinesAppend) {
  log.log("first");
  clock.advance(1.5);
  log.log("second");
  const std::string expected = "[09:05:03.042] first\n[09:05:04.542] second\n";
  EXPECT_EQ(readFile(logFile), expected);
  EXPECT_EQ(mirrored, expected);
}

TEST_F(VxLogTest, NewFileIsPrivateAndAnExistingOneIsMadePrivate) {
  log.log("created");
  struct stat status {};
  ASSERT_EQ(::stat(logFile.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);

  ASSERT_EQ(::chmod(logFile.c_str(), 0644), 0);
  log.log("again");
  ASSERT_EQ(::stat(logFile.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  EXPECT_EQ(readFile(logFile), "[09:05:03.042] created\n[09:05:03.042] again\n");
}

TEST_F(VxLogTest, EmptyFileClearsOurOwnLog) {
  log.log("old launch");
  log.emptyFile();
  EXPECT_EQ(readFile(logFile), "");
  log.log("new launch");
  EXPECT_EQ(readFile(logFile), "[09:05:03.042] new launch\n");
}

TEST_F(VxLogTest, PlantedSymlinkIsNeverFollowedButTheLineStillReachesTheMirror) {
  const fs::path victim = folder.path() / "victim";
  writeFile(victim, "precious\n");
  fs::create_symlink(victim, logFile);

  log.log("transcript text");
  log.emptyFile();

  EXPECT_EQ(readFile(victim), "precious\n");
  EXPECT_TRUE(fs::is_symlink(logFile));
  EXPECT_EQ(mirrored, "[09:05:03.042] transcript text\n");
}

TEST_F(VxLogTest, DanglingSymlinkDoesNotCreateItsTarget) {
  const fs::path target = folder.path() / "created-through-link";
  fs::create_symlink(target, logFile);
  log.log("line");
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(mirrored, "[09:05:03.042] line\n");
}

TEST_F(VxLogTest, HardLinkedFileIsRefused) {
  const fs::path other = folder.path() / "other-name";
  writeFile(other, "kept\n");
  fs::create_hard_link(other, logFile);
  log.log("line");
  log.emptyFile();
  EXPECT_EQ(readFile(other), "kept\n");
}

TEST_F(VxLogTest, FolderOrFifoInPlaceOfTheFileIsRefusedWithoutBlocking) {
  fs::create_directory(logFile);
  log.log("into a folder");
  EXPECT_TRUE(fs::is_directory(logFile));
  fs::remove(logFile);

  ASSERT_EQ(::mkfifo(logFile.c_str(), 0600), 0);
  log.log("into a fifo");  // would block forever if the FIFO were opened for writing without a reader
  log.emptyFile();
  EXPECT_EQ(mirrored, "[09:05:03.042] into a folder\n[09:05:03.042] into a fifo\n");
}

TEST_F(VxLogTest, FileOwnedBySomeoneElseIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  writeFile(logFile, "theirs\n");
  ASSERT_EQ(::chown(logFile.c_str(), 65534, 65534), 0);
  log.log("line");
  log.emptyFile();
  EXPECT_EQ(readFile(logFile), "theirs\n");
  EXPECT_EQ(mirrored, "[09:05:03.042] line\n");
}

TEST_F(VxLogTest, LinesFromManyThreadsStayWhole) {
  VxLog quietLog(logFile, clock, {});
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 4; ++thread) {
    threads.emplace_back([&, thread] {
      for (int line = 0; line < 200; ++line) {
        quietLog.log("thread " + std::to_string(thread) + " line " + std::to_string(line) + std::string(64, 'x'));
      }
    });
  }
  for (auto& thread : threads) thread.join();

  std::istringstream contents(readFile(logFile));
  std::set<std::string> seen;
  std::string line;
  while (std::getline(contents, line)) {
    ASSERT_TRUE(line.starts_with("[09:05:03.042] thread ")) << line;
    ASSERT_TRUE(line.ends_with(std::string(64, 'x'))) << line;
    seen.insert(line);
  }
  EXPECT_EQ(seen.size(), 800u);
}

}  // namespace
}  // namespace quillet::dictate
