#include "platform/linux/sqlite/SqliteDefaultsStore.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
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
#include "tests/support/TemporaryDirectory.h"
#include "tests/tools/DefaultsWriterValues.h"

namespace quillet::platform::sqlite {
namespace {

using test::readFile;
using test::TemporaryDirectory;
using test::writeFile;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// The table as the host creates it when it runs first.
constexpr const char* hostTableSql =
    "CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY NOT NULL, "
    "type TEXT NOT NULL CHECK (type IN ('string','bool','integer','double','data')), value)";

// What a raw query sees of one row: its type tag, the storage class of its value, and the value as an SQL literal.
struct StoredRow {
  std::string type;
  int storageClass = SQLITE_NULL;
  std::string literal;
};

// A connection of its own, as the host application opens one, to write and inspect rows behind the store's back.
class HostConnection {
 public:
  explicit HostConnection(const std::filesystem::path& databasePath) {
    sqlite3* opened = nullptr;
    const int result = sqlite3_open_v2(databasePath.c_str(), &opened,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    connection_.reset(opened);
    if (result != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(opened));
    sqlite3_busy_timeout(opened, 5000);
  }

  // Answers the primary SQLite result code.
  int execute(const std::string& sql) const {
    return sqlite3_exec(connection_.get(), sql.c_str(), nullptr, nullptr, nullptr) & 0xFF;
  }

  // The first column of the first row, as text.
  [[nodiscard]] std::string firstText(const std::string& sql) const {
    const Statement statement = prepare(sql);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(connection_.get()));
    return text(statement.get(), 0);
  }

  [[nodiscard]] std::optional<StoredRow> storedRow(std::string_view key) const {
    const Statement statement = prepare("SELECT type, value, quote(value) FROM defaults WHERE key=?");
    sqlite3_bind_text64(statement.get(), 1, key.data(), key.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (sqlite3_step(statement.get()) != SQLITE_ROW) return std::nullopt;
    // The storage class is read before any conversion of the column can change it.
    const int storageClass = sqlite3_column_type(statement.get(), 1);
    return StoredRow{text(statement.get(), 0), storageClass, text(statement.get(), 2)};
  }

 private:
  struct Closer {
    void operator()(sqlite3* connection) const { sqlite3_close(connection); }
  };
  struct Finalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
  };
  using Statement = std::unique_ptr<sqlite3_stmt, Finalizer>;

  [[nodiscard]] Statement prepare(const std::string& sql) const {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(connection_.get(), sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(connection_.get()));
    }
    return Statement(statement);
  }

  static std::string text(sqlite3_stmt* statement, int column) {
    const unsigned char* characters = sqlite3_column_text(statement, column);
    if (characters == nullptr) return {};
    return {characters, characters + sqlite3_column_bytes(statement, column)};
  }

  std::unique_ptr<sqlite3, Closer> connection_;
};

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
    ASSERT_TRUE(store.set("round.trip", stored));
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
    ASSERT_TRUE(store.set(keys[index], static_cast<std::int64_t>(index))) << "key \"" << keys[index] << "\"";
  }
  for (std::size_t index = 0; index < keys.size(); ++index) {
    EXPECT_EQ(store.integerValue(keys[index]), static_cast<std::int64_t>(index)) << "key \"" << keys[index] << "\"";
  }
}

TEST_F(SqliteDefaultsStoreTest, ReadsAbsentForAKeyNeverStored) {
  SqliteDefaultsStore store(databasePath_);
  ASSERT_TRUE(store.set("present", true));
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
      ASSERT_TRUE(store.set(key, firstValues[first]));
      ASSERT_TRUE(store.set(key, secondValues[second]));
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
    ASSERT_TRUE(store.set("removed", std::string("gone")));
    ASSERT_TRUE(store.set("kept", std::string("here")));
    EXPECT_TRUE(store.remove("removed"));
    EXPECT_EQ(store.value("removed"), std::nullopt);
    EXPECT_TRUE(store.remove("removed")) << "a missing key counts as removed already";
    EXPECT_TRUE(store.remove("never.stored"));
  }
  const SqliteDefaultsStore reopened(databasePath_);
  EXPECT_EQ(reopened.value("removed"), std::nullopt);
  EXPECT_EQ(reopened.stringValue("kept"), "here");
}

TEST_F(SqliteDefaultsStoreTest, RefusesNaNAndKeepsThePreviousValue) {
  SqliteDefaultsStore store(databasePath_);
  ASSERT_TRUE(store.set("ratio", 1.25));
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(store.set("ratio", std::numeric_limits<double>::quiet_NaN()));
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
  ASSERT_TRUE(store.set("created", true));
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
  ASSERT_TRUE(store.set("vantix.supabaseAccessToken", std::string("secret")));
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
    const HostConnection host(databasePath_);
    ASSERT_EQ(host.execute(hostTableSql), SQLITE_OK);
    ASSERT_EQ(host.execute(row.insertSql()), SQLITE_OK);
  }
  const SqliteDefaultsStore store(databasePath_);
  EXPECT_EQ(store.value("host.key"), row.expected);
}

TEST_P(SqliteDefaultsStoreHostRowTest, SeesARowTheHostWritesWhileItIsOpen) {
  const HostRowCase& row = GetParam();
  const SqliteDefaultsStore store(databasePath_);
  const HostConnection host(databasePath_);
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
  ASSERT_TRUE(store.set("agent.key", expected.value));
  const HostConnection host(databasePath_);
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
  const HostConnection host(databasePath_);
  const std::vector<std::string> rejectedInserts{
      "INSERT INTO defaults(key,type,value) VALUES('k','float',1.5)",
      "INSERT INTO defaults(key,type,value) VALUES('k',NULL,1)",
      "INSERT INTO defaults(key,type,value) VALUES(NULL,'integer',1)",
  };
  for (const std::string& insert : rejectedInserts) EXPECT_EQ(host.execute(insert), SQLITE_CONSTRAINT) << insert;
}

TEST_F(SqliteDefaultsStoreTest, UsesWriteAheadLoggingSoReadersDoNotBlockWriters) {
  const SqliteDefaultsStore store(databasePath_);
  const HostConnection host(databasePath_);
  EXPECT_EQ(host.firstText("PRAGMA journal_mode"), "wal");
}

TEST_F(SqliteDefaultsStoreTest, WaitsForTheHostsWriteTransactionInsteadOfFailing) {
  SqliteDefaultsStore store(databasePath_);
  const HostConnection host(databasePath_);
  ASSERT_EQ(host.execute("BEGIN IMMEDIATE"), SQLITE_OK);
  ASSERT_EQ(host.execute("INSERT INTO defaults(key,type,value) VALUES('host.key','integer',1)"), SQLITE_OK);
  std::jthread committer([&host] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    host.execute("COMMIT");
  });
  EXPECT_TRUE(store.set("agent.key", std::int64_t{2}));
  committer.join();
  EXPECT_EQ(store.integerValue("host.key"), 1);
  EXPECT_EQ(store.integerValue("agent.key"), 2);
}

// Failures ------------------------------------------------------------------------------------------------------

TEST_F(SqliteDefaultsStoreTest, ReportsAFailedWriteWithItsKeyButNeverItsValue) {
  SqliteDefaultsStore store(databasePath_);
  const HostConnection host(databasePath_);
  ASSERT_EQ(host.execute("DROP TABLE defaults"), SQLITE_OK);

  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(store.set("session.token", std::string("secret-token-value")));
  EXPECT_FALSE(store.remove("session.token"));
  const std::vector<std::string> lines = linesOf(::testing::internal::GetCapturedStderr());

  ASSERT_EQ(lines.size(), 2U);
  for (const std::string& line : lines) {
    EXPECT_THAT(line, AllOf(StartsWith("[defaults] "), HasSubstr("session.token"), HasSubstr("no such table"),
                            Not(HasSubstr("secret-token-value"))));
  }
}

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
    EXPECT_FALSE(store.set("key", std::string("value")));
    EXPECT_EQ(store.value("key"), std::nullopt);
    EXPECT_FALSE(store.remove("key"));
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
    store.set("key", true);
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
          if (!store.set(key, test::expectedDefaultsValue(index)) ||
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
  const HostConnection host(databasePath_);
  EXPECT_EQ(host.firstText("SELECT count(*) FROM defaults"), std::to_string(keysPerProcess * prefixes.size()));
}

}  // namespace
}  // namespace quillet::platform::sqlite
