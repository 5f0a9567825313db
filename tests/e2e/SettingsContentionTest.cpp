// The real quillet-dictate started with a session while the host holds the settings store's write lock,
// as a host in the middle of a long write of its own does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/HostDefaultsConnection.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

const char* const kSessionLine = "🔑 session tokens received from the app (muse enabled)";
// How long the host keeps its write transaction open: longer than the agent may let its main loop wait,
// shorter than one attempt of the agent's writer waits for a lock.
constexpr auto kHostHoldsTheLock = std::chrono::seconds(3);
// Only guards against a hung agent or a write that never lands.
constexpr auto kHangGuard = std::chrono::seconds(20);

const test::ChildProcess::Environment kSession{{"QL_SUPABASE_URL", "https://project.contention.test"},
                                               {"QL_ANON_KEY", "anon-contention"},
                                               {"QL_ACCESS_TOKEN", "access-contention"},
                                               {"QL_REFRESH_TOKEN", "refresh-contention"}};
// Where the session is stored, with each value as an SQL literal.
const std::vector<std::pair<std::string, std::string>> kStoredSession{
    {"vantix.supabaseURL", "'https://project.contention.test'"},
    {"vantix.supabaseAnonKey", "'anon-contention'"},
    {"vantix.supabaseAccessToken", "'access-contention'"},
    {"vantix.supabaseRefreshToken", "'refresh-contention'"}};

const char* const kCompanionSuffixes[] = {"", "-wal", "-shm"};

mode_t permissionsOf(const fs::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return 0;
  return status.st_mode & 07777;
}

std::chrono::milliseconds millisecondsUntil(Clock::time_point moment) {
  return std::max(std::chrono::milliseconds(0),
                  std::chrono::duration_cast<std::chrono::milliseconds>(moment - Clock::now()));
}

class SettingsContentionTest : public ::testing::Test {
 protected:
  // A store the host made earlier with the umask's 0644, open in the host, in WAL mode, with its -wal and
  // -shm files beside it, and the host inside a write transaction.
  void SetUp() override {
    ASSERT_EQ(host_->execute("PRAGMA journal_mode=WAL"), SQLITE_OK);
    ASSERT_EQ(host_->execute(test::hostTableSql), SQLITE_OK);
    ASSERT_EQ(host_->firstText("SELECT count(*) FROM defaults"), "0");
    for (const char* suffix : kCompanionSuffixes) {
      const fs::path file = database_.string() + suffix;
      ASSERT_EQ(::chmod(file.c_str(), 0644), 0) << file;
    }
    ASSERT_EQ(host_->execute("BEGIN IMMEDIATE"), SQLITE_OK);
    ASSERT_EQ(host_->execute("INSERT INTO defaults(key,type,value) VALUES('host.key','string','the host''s')"),
              SQLITE_OK);
    lockedAt_ = Clock::now();
  }

  // Starts the agent as the host does, with the session in its environment.
  std::unique_ptr<test::ChildProcess> startAgent() const {
    test::ChildProcess::Environment environment{{"XDG_CONFIG_HOME", (home_.path() / "config").string()},
                                                {"HOME", home_.path().string()},
                                                {"QT_QPA_PLATFORM", "offscreen"}};
    environment.insert(kSession.begin(), kSession.end());
    return std::make_unique<test::ChildProcess>(QUILLET_DICTATE_BINARY, std::vector<std::string>{}, environment);
  }

  static std::optional<int> exitCodeOf(std::optional<int> status) {
    if (!status || !WIFEXITED(*status)) return std::nullopt;
    return WEXITSTATUS(*status);
  }

  static fs::path preparedDatabase(const fs::path& home) {
    const fs::path database = home / "config" / "Quillet" / "defaults.sqlite";
    fs::create_directories(database.parent_path());
    return database;
  }

  test::TemporaryDirectory home_;
  const fs::path database_ = preparedDatabase(home_.path());
  std::unique_ptr<test::HostDefaultsConnection> host_ = std::make_unique<test::HostDefaultsConnection>(database_);
  Clock::time_point lockedAt_;
};

TEST_F(SettingsContentionTest, TheAgentStartsDuringTheHostsWriteAndItsSessionLandsRightAfterIt) {
  const auto agent = startAgent();

  // The session line follows the write of the session, so it tells when the agent got past that write.
  const bool upDuringTheLock =
      agent->waitForStandardError(kSessionLine, millisecondsUntil(lockedAt_ + kHostHoldsTheLock));
  EXPECT_TRUE(upDuringTheLock) << "the agent's start-up waited for the host's lock:\n" << agent->standardErrorText();
  const test::HostDefaultsConnection observer(database_);
  EXPECT_FALSE(observer.storedRow("vantix.supabaseAccessToken").has_value()) << "written through the host's lock";

  std::this_thread::sleep_until(lockedAt_ + kHostHoldsTheLock);
  ASSERT_EQ(host_->execute("COMMIT"), SQLITE_OK);

  const auto deadline = Clock::now() + kHangGuard;
  while (!observer.storedRow("vantix.supabaseRefreshToken") && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (const auto& [key, literal] : kStoredSession) {
    const std::optional<test::StoredRow> row = observer.storedRow(key);
    ASSERT_TRUE(row.has_value()) << key << " never landed:\n" << agent->standardErrorText();
    EXPECT_EQ(row->literal, literal) << key;
  }
  EXPECT_EQ(observer.firstText("SELECT value FROM defaults WHERE key='host.key'"), "the host's");
  for (const char* suffix : kCompanionSuffixes) {
    EXPECT_EQ(permissionsOf(database_.string() + suffix), 0600U) << "defaults.sqlite" << suffix;
  }

  agent->sendSignal(SIGTERM);
  EXPECT_EQ(exitCodeOf(agent->waitForExit(kHangGuard)), 0);
  EXPECT_THAT(agent->readStandardErrorToEnd(), Not(HasSubstr("[defaults]"))) << "a write failed on the way";
}

TEST_F(SettingsContentionTest, ASignalDuringTheHostsWriteEndsTheAgentPromptlyAndNamesWhatItCouldNotStore) {
  const auto agent = startAgent();
  ASSERT_TRUE(agent->waitForStandardError(kSessionLine, millisecondsUntil(lockedAt_ + kHostHoldsTheLock)))
      << agent->standardErrorText();

  const auto signalledAt = Clock::now();
  agent->sendSignal(SIGTERM);
  const std::optional<int> exitCode = exitCodeOf(agent->waitForExit(kHangGuard));
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalledAt);
  ASSERT_EQ(host_->execute("ROLLBACK"), SQLITE_OK);

  EXPECT_EQ(exitCode, 0);
  // Bounded, where waiting for the lock took 5 s per key; the half-second goal itself is measured by the
  // exit benchmark, not on a test machine shared with other tests.
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_THAT(agent->readStandardErrorToEnd(),
              AllOf(HasSubstr("[defaults] could not store"), HasSubstr("\"vantix.supabaseAccessToken\""),
                    Not(HasSubstr("access-contention")), Not(HasSubstr("refresh-contention"))));
  EXPECT_FALSE(host_->storedRow("vantix.supabaseAccessToken").has_value());
}

}  // namespace
}  // namespace quillet
