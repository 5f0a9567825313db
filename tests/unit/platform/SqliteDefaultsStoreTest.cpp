#include "platform/linux/sqlite/SqliteDefaultsStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/HostDefaultsConnection.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/tools/DefaultsWriterValues.h"

namespace quillet::platform::sqlite {
namespace {

using test::HostDefaultsConnection;
using test::hostTableSql;
using test::readFile;
using test::StoredRow;
using test::TemporaryDirectory;
using test::writeFile;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class FixedPaths final : public Paths {
 public:
  explicit FixedPaths(std::filesystem::path configHome) : configHome_(std::move(configHome)) {}
  std::filesystem::path configHome() const override { return configHome_; }
  std::filesystem::path temporaryDirectory() const override { return configHome_ / "temporary"; }

 private:
  std::filesystem::path configHome_;
};

// Whether the typed read for the type `ofType` holds finds something under `key`.
bool typedReadFinds(const DefaultsStore& store, std::string_view key, const DefaultsValue& ofType) {
  return std::visit(
      [&](const auto& held) {
        using Held = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<Held, std::string>) {
          return store.stringValue(key).has_value();
        } else if constexpr (std::is_same_v<Held, bool>) {
          return store.boolValue(key).has_value();
        } else if constexpr (std::is_same_v<Held, std::int64_t>) {
          return store.integerValue(key).has_value();
        } else if constexpr (std::is_same_v<Held, double>) {
          return store.doubleValue(key).has_value();
        } else {
          return store.dataValue(key).has_value();
        }
      },
      ofType);
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

mode_t permissionsOf(const std::filesystem::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return 0;
  return status.st_mode & 07777;
}

using Clock = std::chrono::steady_clock;

// Generous bounds: they only tell a store that answered without waiting for the host's lock from one that
// waited for it (the writer may wait 5 s per attempt), and a write that lands from one that never does.
constexpr std::chrono::milliseconds promptly(1000);
constexpr std::chrono::milliseconds landingBound(20'000);

std::chrono::milliseconds elapsedSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

// A trigger of the host's that refuses to store `key`, to make the agent's writes fail for as long as it stays.
std::string refusingTriggerSql(const std::string& key) {
  return "CREATE TRIGGER refuse BEFORE INSERT ON defaults WHEN NEW.key='" + key +
         "' BEGIN SELECT RAISE(ABORT, 'refused by the host'); END";
}

// Shows a table case by its name in failure messages rather than as raw bytes.
template <class Case>
  requires requires(const Case& tableCase) { tableCase.name; }
std::ostream& operator<<(std::ostream& stream, const Case& tableCase) {
  return stream << tableCase.name;
}

// Names each parameterized case after its `name` field.
struct CaseName {
  template <class Case>
  std::string operator()(const ::testing::TestParamInfo<Case>& parameter) const {
    return parameter.param.name;
  }
};

class SqliteDefaultsStoreTest : public ::testing::Test {
 protected:
  TemporaryDirectory folder_;
  const std::filesystem::path databasePath_ = folder_.path() / "defaults.sqlite";
};

// Round trips ---------------------------------------------------------------------------------------------------

struct RoundTripCase {
  std::string name;
  DefaultsValue value;
};

class SqliteDefaultsStoreRoundTripTest : public SqliteDefaultsStoreTest,
                                         public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(SqliteDefaultsStoreRoundTripTest, ReadsBackWhatItStoredBeforeAndAfterReopening) {
  const DefaultsValue& stored = GetParam().value;
  {
    SqliteDefaultsStore store(databasePath_);
    ASSERT_EQ(store.set("round.trip", stored), succeeded());
    EXPECT_EQ(store.value("round.trip"), stored);
  }
  const SqliteDefaultsStore reopened(databasePath_);
  EXPECT_EQ(reopened.value("round.trip"), stored);
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, SqliteDefaultsStoreRoundTripTest,
    ::testing::Values(
        RoundTripCase{"EmptyString", std::string()}, RoundTripCase{"PlainString", std::string("dark")},
        RoundTripCase{"Utf8String", std::string("h\u00e9llo \u2014 \u65e5\u672c\u8a9e \U0001F399")},
        RoundTripCase{"StringWithNul", std::string("before\0after", 12)},
        RoundTripCase{"StringWithQuotes", std::string("it's \"quoted\"; DROP TABLE defaults;--")},
        RoundTripCase{"True", true}, RoundTripCase{"False", false}, RoundTripCase{"Zero", std::int64_t{0}},
        RoundTripCase{"NegativeInteger", std::int64_t{-42}},
        RoundTripCase{"IntegerBeyondDoublePrecision", std::int64_t{9'007'199'254'740'993}},
        RoundTripCase{"SmallestInteger", std::numeric_limits<std::int64_t>::min()},
        RoundTripCase{"LargestInteger", std::numeric_limits<std::int64_t>::max()},
        RoundTripCase{"WholeDouble", 3.0}, RoundTripCase{"NegativeDouble", -2.5},
        RoundTripCase{"InexactDouble", 0.1}, RoundTripCase{"LargestDouble", std::numeric_limits<double>::max()},
        RoundTripCase{"SmallestSubnormalDouble", std::numeric_limits<double>::denorm_min()},
        RoundTripCase{"Infinity", std::numeric_limits<double>::infinity()},
        RoundTripCase{"EmptyData", DefaultsData{}}, RoundTripCase{"DataWithNuls", DefaultsData{0x00, 0x01, 0x00, 0xFF}},
        RoundTripCase{"LargeData", DefaultsData(1 << 20, 0xA5)}),
    CaseName());

TEST_F(SqliteDefaultsStoreTest, KeepsEveryKeyApart) {
  const std::vector<std::string> keys{"",           "key",        "Key",      "key ",           "with space",
                                      "key.nested", "\u00fc.\u043a\u043b\u044e\u0447", "quote'd\"key",
                                      "semi;DROP TABLE defaults;--"};
  SqliteDefaultsStore store(databasePath_);
  for (std::size_t index = 0; index < keys.size(); ++index) {
    ASSERT_EQ(store.set(keys[index], static_cast<std::int64_t>(index)), succeeded()) << "key \"" << keys[index] << "\"";
  }
  for (std::size_t index = 0; index < keys.size(); ++index) {
    EXPECT_EQ(store.integerValue(keys[index]), static_cast<std::int64_t>(index)) << "key \"" << keys[index] << "\"";
  }
}

TEST_F(SqliteDefaultsStoreTest, ReadsAbsentForAKeyNeverStored) {
  SqliteDefaultsStore store(databasePath_);
  ASSERT_EQ(store.set("present", true), succeeded());
  EXPECT_EQ(store.value("absent"), std::nullopt);
}

// Overwrites and removal ------------------------------------------------------------------------------------------

TEST_F(SqliteDefaultsStoreTest, OverwriteReplacesValueAndType) {
  const std::vector<DefaultsValue> firstValues{std::string("first"), true, std::int64_t{1}, 1.5, DefaultsData{1}};
  const std::vector<DefaultsValue> secondValues{std::string("second"), false, std::int64_t{2}, 2.5, DefaultsData{2}};
  SqliteDefaultsStore store(databasePath_);
  for (std::size_t first = 0; first < firstValues.size(); ++first) {
    for (std::size_t second = 0; second < secondValues.size(); ++second) {
      SCOPED_TRACE("from type " + std::to_string(first) + " to type " + std::to_string(second));
      const std::string key = "overwrite." + std::to_string(first) + "." + std::to_string(second);
      ASSERT_EQ(store.set(key, firstValues[first]), succeeded());
      ASSERT_EQ(store.set(key, secondValues[second]), succeeded());
      EXPECT_EQ(store.value(key), secondValues[second]);
      EXPECT_TRUE(typedReadFinds(store, key, secondValues[second]));
      if (first != second) {
        EXPECT_FALSE(typedReadFinds(store, key, firstValues[first]));
      }
    }
  }
}

TEST_F(SqliteDefaultsStoreTest, RemoveDeletesOnlyThatKeyAndStaysRemovedAfterReopening) {
  {
    SqliteDefaultsStore store(databasePath_);
    ASSERT_EQ(store.set("removed", std::string("gone")), succeeded());
    ASSERT_EQ(store.set("kept", std::string("here")), succeeded());
    EXPECT_EQ(store.remove("removed"), succeeded());
    EXPECT_EQ(store.value("removed"), std::nullopt);
    EXPECT_EQ(store.remove("removed"), succeeded()) << "a missing key counts as removed already";
    EXPECT_EQ(store.remove("never.stored"), succeeded());
  }
  const SqliteDefaultsStore reopened(databasePath_);
  EXPECT_EQ(reopened.value("removed"), std::nullopt);
  EXPECT_EQ(reopened.stringValue("kept"), "here");
}

TEST_F(SqliteDefaultsStoreTest, RefusesNaNAndKeepsThePreviousValue) {
  SqliteDefaultsStore store(databasePath_);
  ASSERT_EQ(store.set("ratio", 1.25), succeeded());
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(store.set("ratio", std::numeric_limits<double>::quiet_NaN()).failed());
  const std::string diagnostics = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(store.doubleValue("ratio"), 1.25);
  EXPECT_THAT(diagnostics, AllOf(StartsWith("[defaults] "), HasSubstr("ratio")));
}

// Folder and default location -------------------------------------------------------------------------------------

TEST_F(SqliteDefaultsStoreTest, DefaultPathIsInTheApplicationSupportFolder) {
  const FixedPaths paths(folder_.path() / "config");
  EXPECT_EQ(SqliteDefaultsStore::defaultPath(paths), folder_.path() / "config" / "Quillet" / "defaults.sqlite");
}

TEST_F(SqliteDefaultsStoreTest, CreatesMissingFoldersForTheOwnerOnly) {
  const std::filesystem::path configHome = folder_.path() / "config";
  const std::filesystem::path path = SqliteDefaultsStore::defaultPath(FixedPaths(configHome));
  SqliteDefaultsStore store(path);
  ASSERT_EQ(store.set("created", true), succeeded());
  EXPECT_TRUE(std::filesystem::is_regular_file(path));
  EXPECT_EQ(permissionsOf(configHome), S_IRWXU);
  EXPECT_EQ(permissionsOf(path.parent_path()), S_IRWXU);
}

TEST_F(SqliteDefaultsStoreTest, DatabaseAndJournalAreOwnerOnlyEvenInAnOpenFolder) {
  const std::filesystem::path openFolder = folder_.path() / "shared";
  ASSERT_EQ(::mkdir(openFolder.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(openFolder.c_str(), 0755), 0);
  const std::filesystem::path path = openFolder / "defaults.sqlite";
  SqliteDefaultsStore store(path);
  ASSERT_EQ(store.set("vantix.supabaseAccessToken", std::string("secret")), succeeded());
  ASSERT_TRUE(store.flush(landingBound));
  EXPECT_EQ(permissionsOf(path), S_IRUSR | S_IWUSR);
  EXPECT_EQ(permissionsOf(openFolder / "defaults.sqlite-wal"), S_IRUSR | S_IWUSR);
}

// The contract with the host ----------------------------------------------------------------------------------

struct HostRowCase {
  std::string name;
  std::string type;
  std::string literal;
  std::optional<DefaultsValue> expected;

  [[nodiscard]] std::string insertSql() const {
    return "INSERT INTO defaults(key,type,value) VALUES('host.key','" + type + "'," + literal + ")";
  }
};

class SqliteDefaultsStoreHostRowTest : public SqliteDefaultsStoreTest,
                                       public ::testing::WithParamInterface<HostRowCase> {};

TEST_P(SqliteDefaultsStoreHostRowTest, ReadsARowTheHostWroteIntoItsOwnTable) {
  const HostRowCase& row = GetParam();
  {
    const HostDefaultsConnection host(databasePath_);
    ASSERT_EQ(host.execute(hostTableSql), SQLITE_OK);
    ASSERT_EQ(host.execute(row.insertSql()), SQLITE_OK);
  }
  const SqliteDefaultsStore store(databasePath_);
  EXPECT_EQ(store.value("host.key"), row.expected);
}

TEST_P(SqliteDefaultsStoreHostRowTest, SeesARowTheHostWritesWhileItIsOpen) {
  const HostRowCase& row = GetParam();
  const SqliteDefaultsStore store(databasePath_);
  const HostDefaultsConnection host(databasePath_);
  ASSERT_EQ(host.execute(row.insertSql()), SQLITE_OK);
  EXPECT_EQ(store.value("host.key"), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    ConsistentRows, SqliteDefaultsStoreHostRowTest,
    ::testing::Values(
        HostRowCase{"String", "string", "'h\u00e9llo'", DefaultsValue(std::string("h\u00e9llo"))},
        HostRowCase{"EmptyString", "string", "''", DefaultsValue(std::string())},
        HostRowCase{"True", "bool", "1", DefaultsValue(true)}, HostRowCase{"False", "bool", "0", DefaultsValue(false)},
        HostRowCase{"Integer", "integer", "-9007199254740993", DefaultsValue(std::int64_t{-9'007'199'254'740'993})},
        HostRowCase{"WholeDouble", "double", "3.0", DefaultsValue(3.0)},
        HostRowCase{"Double", "double", "-0.25", DefaultsValue(-0.25)},
        HostRowCase{"Data", "data", "x'00ff00'", DefaultsValue(DefaultsData{0x00, 0xFF, 0x00})},
        HostRowCase{"EmptyData", "data", "x''", DefaultsValue(DefaultsData{})}),
    CaseName());

INSTANTIATE_TEST_SUITE_P(
    InconsistentRowsReadAbsent, SqliteDefaultsStoreHostRowTest,
    ::testing::Values(HostRowCase{"BoolAsText", "bool", "'yes'", std::nullopt},
                      HostRowCase{"BoolOutOfRange", "bool", "2", std::nullopt},
                      HostRowCase{"IntegerAsReal", "integer", "1.5", std::nullopt},
                      HostRowCase{"IntegerAsText", "integer", "'12'", std::nullopt},
                      HostRowCase{"DoubleAsInteger", "double", "3", std::nullopt},
                      HostRowCase{"StringAsNull", "string", "NULL", std::nullopt},
                      HostRowCase{"StringAsBlob", "string", "x'41'", std::nullopt},
                      HostRowCase{"DataAsText", "data", "'bytes'", std::nullopt},
                      HostRowCase{"DataAsNull", "data", "NULL", std::nullopt}),
    CaseName());

struct StoredRowCase {
  std::string name;
  DefaultsValue value;
  std::string type;
  int storageClass;
  std::string literal;
};

class SqliteDefaultsStoreStoredRowTest : public SqliteDefaultsStoreTest,
                                         public ::testing::WithParamInterface<StoredRowCase> {};

TEST_P(SqliteDefaultsStoreStoredRowTest, WritesTheRowTheHostExpects) {
  const StoredRowCase& expected = GetParam();
  SqliteDefaultsStore store(databasePath_);
  ASSERT_EQ(store.set("agent.key", expected.value), succeeded());
  ASSERT_TRUE(store.flush(landingBound));
  const HostDefaultsConnection host(databasePath_);
  const std::optional<StoredRow> row = host.storedRow("agent.key");
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->type, expected.type);
  EXPECT_EQ(row->storageClass, expected.storageClass);
  EXPECT_EQ(row->literal, expected.literal);
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, SqliteDefaultsStoreStoredRowTest,
    ::testing::Values(
        StoredRowCase{"String", std::string("it's"), "string", SQLITE_TEXT, "'it''s'"},
        StoredRowCase{"EmptyString", std::string(), "string", SQLITE_TEXT, "''"},
        StoredRowCase{"True", true, "bool", SQLITE_INTEGER, "1"},
        StoredRowCase{"False", false, "bool", SQLITE_INTEGER, "0"},
        StoredRowCase{"Integer", std::int64_t{-7}, "integer", SQLITE_INTEGER, "-7"},
        StoredRowCase{"WholeDouble", 3.0, "double", SQLITE_FLOAT, "3.0"},
        StoredRowCase{"Data", DefaultsData{0x00, 0xAB}, "data", SQLITE_BLOB, "X'00AB'"},
        StoredRowCase{"EmptyData", DefaultsData{}, "data", SQLITE_BLOB, "X''"}),
    CaseName());

TEST_F(SqliteDefaultsStoreTest, CreatedTableRejectsRowsOutsideTheContract) {
  const SqliteDefaultsStore store(databasePath_);
  const HostDefaultsConnection host(databasePath_);
  const std::vector<std::string> rejectedInserts{
      "INSERT INTO defaults(key,type,value) VALUES('k','float',1.5)",
      "INSERT INTO defaults(key,type,value) VALUES('k',NULL,1)",
      "INSERT INTO defaults(key,type,value) VALUES(NULL,'integer',1)",
  };
  for (const std::string& insert : rejectedInserts) EXPECT_EQ(host.execute(insert), SQLITE_CONSTRAINT) << insert;
}

TEST_F(SqliteDefaultsStoreTest, UsesWriteAheadLoggingSoReadersDoNotBlockWriters) {
  const SqliteDefaultsStore store(databasePath_);
  const HostDefaultsConnection host(databasePath_);
  EXPECT_EQ(host.firstText("PRAGMA journal_mode"), "wal");
}

// Contention with the host ----------------------------------------------------------------------------------

struct HostEndingCase {
  std::string name;
  std::string endSql;
  bool hostRowKept;
};

class SqliteDefaultsStoreHostLockTest : public SqliteDefaultsStoreTest,
                                        public ::testing::WithParamInterface<HostEndingCase> {};

TEST_P(SqliteDefaultsStoreHostLockTest, WritesDuringTheHostsWriteLockAnswerAtOnceReadBackAndLandAfterIt) {
  {
    const HostDefaultsConnection setUp(databasePath_);
    ASSERT_EQ(setUp.execute("PRAGMA journal_mode=WAL"), SQLITE_OK);
    ASSERT_EQ(setUp.execute(hostTableSql), SQLITE_OK);
    ASSERT_EQ(setUp.execute("INSERT INTO defaults(key,type,value) VALUES('agent.removed','string','old')"), SQLITE_OK);
  }
  const HostDefaultsConnection host(databasePath_);
  const HostDefaultsConnection observer(databasePath_);
  ASSERT_EQ(host.execute("BEGIN IMMEDIATE"), SQLITE_OK);
  ASSERT_EQ(host.execute("INSERT INTO defaults(key,type,value) VALUES('host.key','integer',1)"), SQLITE_OK);

  const auto start = Clock::now();
  SqliteDefaultsStore store(databasePath_);
  EXPECT_EQ(store.set("agent.single", std::int64_t{2}), succeeded());
  EXPECT_EQ(store.setMany({{"agent.first", std::string("one")}, {"agent.second", true}}), succeeded());
  EXPECT_EQ(store.remove("agent.removed"), succeeded());
  EXPECT_EQ(store.integerValue("agent.single"), 2);
  EXPECT_EQ(store.stringValue("agent.first"), "one");
  EXPECT_EQ(store.boolValue("agent.second"), true);
  EXPECT_EQ(store.value("agent.removed"), std::nullopt);
  EXPECT_EQ(store.value("host.key"), std::nullopt) << "the host's write is not committed yet";
  EXPECT_LT(elapsedSince(start), promptly) << "opening, writing or reading waited for the host's lock";

  EXPECT_FALSE(observer.storedRow("agent.single").has_value()) << "nothing lands while the host holds the lock";
  EXPECT_TRUE(observer.storedRow("agent.removed").has_value());

  ASSERT_EQ(host.execute(GetParam().endSql), SQLITE_OK);
  ASSERT_TRUE(store.flush(landingBound));

  const std::vector<std::pair<std::string, std::string>> landed{
      {"agent.single", "2"}, {"agent.first", "'one'"}, {"agent.second", "1"}};
  for (const auto& [key, literal] : landed) {
    const std::optional<StoredRow> row = observer.storedRow(key);
    ASSERT_TRUE(row.has_value()) << key;
    EXPECT_EQ(row->literal, literal) << key;
  }
  EXPECT_FALSE(observer.storedRow("agent.removed").has_value());
  EXPECT_EQ(observer.storedRow("host.key").has_value(), GetParam().hostRowKept);
  EXPECT_EQ(store.integerValue("host.key"), GetParam().hostRowKept ? std::optional<std::int64_t>(1) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(HostEndings, SqliteDefaultsStoreHostLockTest,
                         ::testing::Values(HostEndingCase{"Commit", "COMMIT", true},
                                           HostEndingCase{"Rollback", "ROLLBACK", false}),
                         CaseName());

TEST_F(SqliteDefaultsStoreTest, AGroupLandsWholeOrNotAtAllAndAFailedWriteIsRetriedAndNamedByItsKeysOnly) {
  const std::vector<std::pair<std::string, std::string>> group{
      {"group.first", "secret-first"}, {"group.second", "secret-second"}, {"group.third", "secret-third"}};
  DefaultsEntries entries;
  for (const auto& [key, text] : group) entries.emplace_back(key, text);
  SqliteDefaultsStore store(databasePath_);
  const HostDefaultsConnection host(databasePath_);
  ASSERT_EQ(host.execute(refusingTriggerSql("group.third")), SQLITE_OK);

  ::testing::internal::CaptureStderr();
  ASSERT_EQ(store.setMany(entries), succeeded());
  EXPECT_FALSE(store.flush(std::chrono::milliseconds(300)));
  const std::vector<std::string> lines = linesOf(::testing::internal::GetCapturedStderr());

  for (const auto& [key, text] : group) {
    EXPECT_FALSE(host.storedRow(key).has_value()) << key << " landed without the rest of its group";
    EXPECT_EQ(store.stringValue(key), text) << key << ": a waiting value still reads back";
  }
  ASSERT_EQ(lines.size(), 1U) << "a run of failures is reported once";
  EXPECT_THAT(lines.front(), AllOf(StartsWith("[defaults] "), HasSubstr("\"group.first\""),
                                   HasSubstr("\"group.third\""), HasSubstr("refused by the host"),
                                   Not(HasSubstr("secret"))));

  ASSERT_EQ(host.execute("DROP TRIGGER refuse"), SQLITE_OK);
  ASSERT_TRUE(store.flush(landingBound)) << "the group was dropped instead of tried again";
  for (const auto& [key, text] : group) {
    const std::optional<StoredRow> row = host.storedRow(key);
    ASSERT_TRUE(row.has_value()) << key;
    EXPECT_EQ(row->literal, "'" + text + "'") << key;
  }
}

TEST_F(SqliteDefaultsStoreTest, AReadLockedOutByTheHostAnswersAtOnceWithTheLastValueKnown) {
  const HostDefaultsConnection host(databasePath_);
  ASSERT_EQ(host.execute(hostTableSql), SQLITE_OK);
  ASSERT_EQ(host.execute("INSERT INTO defaults(key,type,value) VALUES('read.key','string','known')"), SQLITE_OK);
  // Readers are locked out only in a rollback-journal database; the host reading while the store opens keeps
  // the store from switching it to WAL.
  ASSERT_EQ(host.execute("BEGIN"), SQLITE_OK);
  ASSERT_EQ(host.firstText("SELECT count(*) FROM defaults"), "1");
  SqliteDefaultsStore store(databasePath_);
  ASSERT_EQ(host.execute("COMMIT"), SQLITE_OK);
  ASSERT_EQ(host.firstText("PRAGMA journal_mode"), "delete");
  EXPECT_EQ(store.stringValue("read.key"), "known");

  ASSERT_EQ(host.execute("BEGIN EXCLUSIVE"), SQLITE_OK);
  ASSERT_EQ(host.execute("UPDATE defaults SET value='changed' WHERE key='read.key'"), SQLITE_OK);
  ::testing::internal::CaptureStderr();
  const auto start = Clock::now();
  const std::optional<std::string> known = store.stringValue("read.key");
  const std::optional<DefaultsValue> neverRead = store.value("never.read");
  const auto elapsed = elapsedSince(start);
  const std::vector<std::string> lines = linesOf(::testing::internal::GetCapturedStderr());

  EXPECT_LT(elapsed, promptly) << "a read waited for the host's exclusive lock";
  EXPECT_EQ(known, "known");
  EXPECT_EQ(neverRead, std::nullopt);
  ASSERT_EQ(lines.size(), 1U) << "a run of failed reads is reported once";
  EXPECT_THAT(lines.front(), AllOf(StartsWith("[defaults] "), HasSubstr("\"read.key\""), HasSubstr("locked")));

  EXPECT_EQ(store.set("read.key", std::string("mine")), succeeded());
  EXPECT_EQ(store.stringValue("read.key"), "mine");
  ASSERT_EQ(host.execute("COMMIT"), SQLITE_OK);
  ASSERT_TRUE(store.flush(landingBound));
  const std::optional<StoredRow> row = host.storedRow("read.key");
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->literal, "'mine'");
  EXPECT_EQ(store.stringValue("read.key"), "mine");
}

TEST_F(SqliteDefaultsStoreTest, AtTheEndALastBriefAttemptIsMadeAndWhatItCouldNotWriteIsNamed) {
  auto store = std::make_unique<SqliteDefaultsStore>(databasePath_);
  const HostDefaultsConnection host(databasePath_);
  ASSERT_EQ(host.execute("BEGIN IMMEDIATE"), SQLITE_OK);
  ASSERT_EQ(store->set("end.token", std::string("secret-token-value")), succeeded());

  ::testing::internal::CaptureStderr();
  const auto start = Clock::now();
  store.reset();
  const auto elapsed = elapsedSince(start);
  const std::vector<std::string> lines = linesOf(::testing::internal::GetCapturedStderr());
  ASSERT_EQ(host.execute("ROLLBACK"), SQLITE_OK);

  // A brief attempt, not the 5 s wait for the lock; the agent's half-second exit is measured by the exit benchmark.
  EXPECT_LT(elapsed, std::chrono::seconds(2));
  EXPECT_FALSE(host.storedRow("end.token").has_value());
  ASSERT_EQ(lines.size(), 1U);
  EXPECT_THAT(lines.front(),
              AllOf(StartsWith("[defaults] "), HasSubstr("\"end.token\""), Not(HasSubstr("secret-token-value"))));
}

// File modes ------------------------------------------------------------------------------------------------

const char* const companionSuffixes[] = {"", "-wal", "-shm"};

std::filesystem::path withSuffix(const std::filesystem::path& path, const char* suffix) {
  return path.string() + suffix;
}

TEST_F(SqliteDefaultsStoreTest, OpeningTakesOtherUsersAccessAwayFromTheDatabaseAndItsWalAndShm) {
  const struct {
    mode_t before;
    mode_t after;
  } cases[] = {{0644, 0600}, {0666, 0600}, {0640, 0600}, {0604, 0600}, {0660, 0600}, {0600, 0600}, {0700, 0700}};
  for (const auto& modes : cases) {
    std::ostringstream trace;
    trace << "mode " << std::oct << modes.before;
    SCOPED_TRACE(trace.str());
    const TemporaryDirectory folder;
    const std::filesystem::path path = folder.path() / "defaults.sqlite";
    // The host keeps its connection, so the -wal and -shm files stay.
    const HostDefaultsConnection host(path);
    ASSERT_EQ(host.execute("PRAGMA journal_mode=WAL"), SQLITE_OK);
    ASSERT_EQ(host.execute(hostTableSql), SQLITE_OK);
    for (const char* suffix : companionSuffixes) {
      ASSERT_EQ(::chmod(withSuffix(path, suffix).c_str(), modes.before), 0) << suffix << ": " << std::strerror(errno);
    }

    { const SqliteDefaultsStore store(path); }

    for (const char* suffix : companionSuffixes) {
      EXPECT_EQ(permissionsOf(withSuffix(path, suffix)), modes.after) << "defaults.sqlite" << suffix;
    }
  }
}

TEST_F(SqliteDefaultsStoreTest, LeavesTheModeOfAnotherUsersFileAndSaysSo) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file to another user";
  constexpr uid_t otherUser = 65534;
  {
    const HostDefaultsConnection host(databasePath_);
    ASSERT_EQ(host.execute(hostTableSql), SQLITE_OK);
  }
  ASSERT_EQ(::chmod(databasePath_.c_str(), 0644), 0);
  ASSERT_EQ(::chown(databasePath_.c_str(), otherUser, otherUser), 0);

  ::testing::internal::CaptureStderr();
  { const SqliteDefaultsStore store(databasePath_); }
  const std::string diagnostics = ::testing::internal::GetCapturedStderr();

  EXPECT_EQ(permissionsOf(databasePath_), 0644U);
  EXPECT_THAT(diagnostics, AllOf(StartsWith("[defaults] "), HasSubstr(databasePath_.string()), HasSubstr("0644")));
}

// Failures ------------------------------------------------------------------------------------------------------

struct UnopenableCase {
  std::string name;
  // Prepares the folder and answers the database path that cannot be opened there.
  std::function<std::filesystem::path(const std::filesystem::path& folder)> prepare;
};

class SqliteDefaultsStoreUnopenableTest : public ::testing::TestWithParam<UnopenableCase> {};

TEST_P(SqliteDefaultsStoreUnopenableTest, BehavesAsAnEmptyStoreWhoseWritesFail) {
  const TemporaryDirectory folder;
  const std::filesystem::path databasePath = GetParam().prepare(folder.path());

  ::testing::internal::CaptureStderr();
  {
    SqliteDefaultsStore store(databasePath);
    EXPECT_TRUE(store.set("key", std::string("value")).failed());
    EXPECT_EQ(store.value("key"), std::nullopt);
    EXPECT_TRUE(store.remove("key").failed());
  }
  const std::vector<std::string> lines = linesOf(::testing::internal::GetCapturedStderr());

  ASSERT_EQ(lines.size(), 1U);
  EXPECT_THAT(lines.front(), StartsWith("[defaults] "));
}

INSTANTIATE_TEST_SUITE_P(
    UnopenablePaths, SqliteDefaultsStoreUnopenableTest,
    ::testing::Values(UnopenableCase{"FolderIsARegularFile",
                                     [](const std::filesystem::path& folder) {
                                       writeFile(folder / "file", "not a folder");
                                       return folder / "file" / "Quillet" / "defaults.sqlite";
                                     }},
                      UnopenableCase{"DatabaseIsAFolder",
                                     [](const std::filesystem::path& folder) {
                                       std::filesystem::create_directory(folder / "defaults.sqlite");
                                       return folder / "defaults.sqlite";
                                     }},
                      UnopenableCase{"DatabaseIsNotADatabase",
                                     [](const std::filesystem::path& folder) {
                                       writeFile(folder / "defaults.sqlite", std::string(4096, 'x'));
                                       return folder / "defaults.sqlite";
                                     }}),
    CaseName());

TEST_F(SqliteDefaultsStoreTest, LeavesAFileThatIsNotADatabaseUntouched) {
  const std::string contents(4096, 'x');
  writeFile(databasePath_, contents);
  ::testing::internal::CaptureStderr();
  {
    SqliteDefaultsStore store(databasePath_);
    EXPECT_TRUE(store.set("key", true).failed()) << "a store that cannot open its file refuses writes";
  }
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(readFile(databasePath_), contents);
}

// Concurrency -----------------------------------------------------------------------------------------------------

TEST_F(SqliteDefaultsStoreTest, ThreadsSharingOneStoreKeepEveryWrite) {
  constexpr int threadCount = 4;
  constexpr int keysPerThread = 100;
  SqliteDefaultsStore store(databasePath_);
  std::vector<int> failedWrites(threadCount, 0);
  {
    std::vector<std::jthread> threads;
    for (int thread = 0; thread < threadCount; ++thread) {
      threads.emplace_back([&store, &failedWrites, thread] {
        const std::string prefix = "thread" + std::to_string(thread);
        for (int index = 0; index < keysPerThread; ++index) {
          const std::string key = test::defaultsWriterKey(prefix, index);
          if (store.set(key, test::expectedDefaultsValue(index)).failed() ||
              store.value(key) != test::expectedDefaultsValue(index)) {
            ++failedWrites[static_cast<std::size_t>(thread)];
          }
        }
      });
    }
  }
  for (int thread = 0; thread < threadCount; ++thread) {
    EXPECT_EQ(failedWrites[static_cast<std::size_t>(thread)], 0) << "thread " << thread;
    for (int index = 0; index < keysPerThread; ++index) {
      const std::string key = test::defaultsWriterKey("thread" + std::to_string(thread), index);
      EXPECT_EQ(store.value(key), test::expectedDefaultsValue(index)) << key;
    }
  }
}

// The wait status as an exit code, or -1 when the process did not end by exiting.
int exitCodeOf(std::optional<int> waitStatus) {
  return waitStatus && WIFEXITED(*waitStatus) ? WEXITSTATUS(*waitStatus) : -1;
}

TEST_F(SqliteDefaultsStoreTest, TwoProcessesWritingAtOnceKeepEveryKeyOfBoth) {
  constexpr int keysPerProcess = 400;
  // Only guards against a hung writer; a healthy run is far quicker.
  constexpr std::chrono::seconds hangGuard(100);
  const std::vector<std::string> prefixes{"first", "second"};

  // Both are started before either is waited for, so their writes overlap.
  std::vector<std::unique_ptr<test::ChildProcess>> writers;
  for (const std::string& prefix : prefixes) {
    const std::vector<std::string> arguments{databasePath_.string(), prefix, std::to_string(keysPerProcess)};
    writers.push_back(
        std::make_unique<test::ChildProcess>(QUILLET_DEFAULTS_WRITER, arguments, test::ChildProcess::Environment{}));
  }
  bool bothSucceeded = true;
  for (std::size_t writer = 0; writer < writers.size(); ++writer) {
    // Standard error is drained first so a writer reporting many failures cannot block on a full pipe.
    const std::string diagnostics = writers[writer]->readStandardErrorToEnd(hangGuard);
    const int exitCode = exitCodeOf(writers[writer]->waitForExit(hangGuard));
    EXPECT_EQ(exitCode, 0) << "writer " << prefixes[writer] << ":\n" << diagnostics;
    bothSucceeded = bothSucceeded && exitCode == 0;
  }
  ASSERT_TRUE(bothSucceeded);

  const SqliteDefaultsStore store(databasePath_);
  for (const std::string& prefix : prefixes) {
    for (int index = 0; index < keysPerProcess; ++index) {
      const std::string key = test::defaultsWriterKey(prefix, index);
      EXPECT_EQ(store.value(key), test::expectedDefaultsValue(index)) << key;
    }
  }
  const HostDefaultsConnection host(databasePath_);
  EXPECT_EQ(host.firstText("SELECT count(*) FROM defaults"), std::to_string(keysPerProcess * prefixes.size()));
}

}  // namespace
}  // namespace quillet::platform::sqlite
