// Starts the real quillet-dictate as the host does and checks what it leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "platform/linux/sqlite/SqliteDefaultsStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using test::readFile;

const char* const kLogFile = "/tmp/vessio.log";
const char* const kSessionLine = "🔑 session tokens received from the app (muse enabled)";

// The agent refuses a log file someone else owns; a test cannot check the file then.
bool logFileUsable() {
  struct stat status {};
  if (::lstat(kLogFile, &status) != 0) return true;
  return S_ISREG(status.st_mode) && status.st_uid == ::geteuid();
}

void expectCleanExitOn(test::ChildProcess& agent, int signal) {
  agent.sendSignal(signal);
  const auto status = agent.waitForExit();
  ASSERT_TRUE(status.has_value()) << "the agent did not end on signal " << signal;
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << (WIFSIGNALED(*status) ? WTERMSIG(*status) : 0);
  EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(DictateHostTest, SessionFromTheEnvironmentReachesTheStoreAndTheLogAndPersists) {
  if (!logFileUsable()) GTEST_SKIP() << kLogFile << " belongs to another user on this machine";
  test::TemporaryDirectory home;
  const test::ChildProcess::Environment base{{"XDG_CONFIG_HOME", (home.path() / "config").string()},
                                             {"HOME", home.path().string()},
                                             {"QT_QPA_PLATFORM", "offscreen"}};
  const std::vector<std::string> hostVariables{"QL_SUPABASE_URL", "QL_ANON_KEY", "QL_ACCESS_TOKEN", "QL_REFRESH_TOKEN"};
  const fs::path database = home.path() / "config" / "Quillet" / "defaults.sqlite";

  {
    auto environment = base;
    environment.insert({{"QL_SUPABASE_URL", "https://project.e2e.test"},
                        {"QL_ANON_KEY", "anon-e2e"},
                        {"QL_ACCESS_TOKEN", "access-e2e"},
                        {"QL_REFRESH_TOKEN", "refresh-e2e"}});
    test::ChildProcess agent(QUILLET_DICTATE_BINARY, {}, environment, hostVariables);
    ASSERT_TRUE(agent.waitForStandardError(kSessionLine)) << agent.standardErrorText();

    const std::regex logLine(R"(^\[\d{2}:\d{2}:\d{2}\.\d{3}\] 🔑 session tokens received from the app \(muse enabled\)\n$)");
    EXPECT_TRUE(std::regex_match(agent.standardErrorText(), logLine)) << agent.standardErrorText();
    EXPECT_EQ(readFile(kLogFile), agent.standardErrorText()) << "the file starts empty at launch and mirrors stderr";
    struct stat status {};
    ASSERT_EQ(::stat(kLogFile, &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    expectCleanExitOn(agent, SIGTERM);
  }
  {
    platform::sqlite::SqliteDefaultsStore store(database);
    EXPECT_EQ(store.stringValue("vantix.supabaseURL"), "https://project.e2e.test");
    EXPECT_EQ(store.stringValue("vantix.supabaseAnonKey"), "anon-e2e");
    EXPECT_EQ(store.stringValue("vantix.supabaseAccessToken"), "access-e2e");
    EXPECT_EQ(store.stringValue("vantix.supabaseRefreshToken"), "refresh-e2e");
    EXPECT_EQ(store.boolValue("vantix.harperAutoCheckMigrated_v1"), true);
  }
  {
    // A later launch without a session and with a plain-http origin keeps what the first one stored.
    auto environment = base;
    environment.insert({{"QL_SUPABASE_URL", "http://downgrade.e2e.test"}, {"QL_REFRESH_TOKEN", "orphan"}});
    test::ChildProcess agent(QUILLET_DICTATE_BINARY, {}, environment, hostVariables);
    ASSERT_TRUE(agent.waitUntilBlocking(SIGINT)) << "the agent never took over its signals";
    expectCleanExitOn(agent, SIGINT);
    // Nothing is logged on this launch, and the launch emptied the file.
    EXPECT_EQ(readFile(kLogFile), "");
    EXPECT_EQ(agent.readStandardErrorToEnd().find(kSessionLine), std::string::npos);
  }
  platform::sqlite::SqliteDefaultsStore store(database);
  EXPECT_EQ(store.stringValue("vantix.supabaseURL"), "https://project.e2e.test");
  EXPECT_EQ(store.stringValue("vantix.supabaseRefreshToken"), "refresh-e2e");
}

TEST(DictateHostTest, ThePreferencesFileIsReadAtLaunchAndTheCapsuleFollowsTheHostsReplacement) {
  if (!logFileUsable()) GTEST_SKIP() << kLogFile << " belongs to another user on this machine";
  test::TemporaryDirectory home;
  const fs::path folder = home.path() / "config" / "Quillet";
  fs::create_directories(folder);
  std::ofstream(folder / "dictate-prefs.json") << R"({"hotkey": {"type": "holdKey", "keyCode": 61}})";
  test::ChildProcess agent(QUILLET_DICTATE_BINARY, {},
                           {{"XDG_CONFIG_HOME", (home.path() / "config").string()},
                            {"HOME", home.path().string()},
                            {"QT_QPA_PLATFORM", "offscreen"}},
                           {"QL_SUPABASE_URL", "QL_ANON_KEY", "QL_ACCESS_TOKEN", "QL_REFRESH_TOKEN"});
  ASSERT_TRUE(agent.waitForStandardError("⚙️ dictate-prefs loaded: floatingMic=true hotkey=holdKey(keyCode: 61)"))
      << agent.standardErrorText();

  // The host replaces the file the way careful writers do: a temporary file renamed over it.
  std::ofstream(folder / "dictate-prefs.json.new") << R"({"floatingMic": false, "hotkey": {"type": "shiftDouble"}})";
  fs::rename(folder / "dictate-prefs.json.new", folder / "dictate-prefs.json");
  ASSERT_TRUE(agent.waitForStandardError("⚙️ dictate-prefs loaded: floatingMic=false hotkey=shiftDouble"))
      << agent.standardErrorText();
  expectCleanExitOn(agent, SIGTERM);

  platform::sqlite::SqliteDefaultsStore store(folder / "defaults.sqlite");
  EXPECT_EQ(store.boolValue("vantix.showCapsuleAutomatically"), false) << "the capsule follows the replaced file";
  EXPECT_TRUE(fs::exists(folder / "dictate-prefs.json")) << "the agent never writes or removes the file";
}

}  // namespace
}  // namespace quillet
