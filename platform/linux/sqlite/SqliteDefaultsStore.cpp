#include "platform/linux/sqlite/SqliteDefaultsStore.h"

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <iostream>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

namespace quillet::platform::sqlite {
namespace {

constexpr int busyTimeoutMilliseconds = 5000;

// The type tags the host reads and writes.
constexpr std::string_view stringTag = "string";
constexpr std::string_view boolTag = "bool";
constexpr std::string_view integerTag = "integer";
constexpr std::string_view doubleTag = "double";
constexpr std::string_view dataTag = "data";

constexpr const char* createTableSql =
    "CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY NOT NULL, "
    "type TEXT NOT NULL CHECK (type IN ('string','bool','integer','double','data')), value)";
constexpr std::string_view selectSql = "SELECT type, value FROM defaults WHERE key=?";
constexpr std::string_view upsertSql =
    "INSERT INTO defaults(key,type,value) VALUES(?,?,?) "
    "ON CONFLICT(key) DO UPDATE SET type=excluded.type, value=excluded.value";
constexpr std::string_view deleteSql = "DELETE FROM defaults WHERE key=?";

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// Written in one piece so lines from several threads do not interleave.
void writeDiagnostic(const std::string& message) { std::cerr << "[defaults] " + message + "\n"; }

Statement prepare(sqlite3* connection, std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(connection, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  return Statement(statement);
}

// An empty view may hold a null pointer, which SQLite would store as NULL rather than as "".
int bindText(sqlite3_stmt* statement, int index, std::string_view text) {
  const char* characters = text.empty() ? "" : text.data();
  return sqlite3_bind_text64(statement, index, characters, text.size(), SQLITE_STATIC, SQLITE_UTF8);
}

// Likewise an empty vector holds no pointer, and a null blob pointer would store NULL.
int bindBytes(sqlite3_stmt* statement, int index, const DefaultsData& bytes) {
  static constexpr std::uint8_t noBytes = 0;
  return sqlite3_bind_blob64(statement, index, bytes.empty() ? &noBytes : bytes.data(), bytes.size(), SQLITE_STATIC);
}

int bindValue(sqlite3_stmt* statement, int index, const DefaultsValue& value) {
  return std::visit(
      [&](const auto& held) {
        using Held = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<Held, std::string>) {
          return bindText(statement, index, held);
        } else if constexpr (std::is_same_v<Held, bool>) {
          return sqlite3_bind_int(statement, index, held ? 1 : 0);
        } else if constexpr (std::is_same_v<Held, std::int64_t>) {
          return sqlite3_bind_int64(statement, index, held);
        } else if constexpr (std::is_same_v<Held, double>) {
          return sqlite3_bind_double(statement, index, held);
        } else {
          return bindBytes(statement, index, held);
        }
      },
      value);
}

std::string_view typeTag(const DefaultsValue& value) {
  return std::visit(
      [](const auto& held) {
        using Held = std::decay_t<decltype(held)>;
        if constexpr (std::is_same_v<Held, std::string>) {
          return stringTag;
        } else if constexpr (std::is_same_v<Held, bool>) {
          return boolTag;
        } else if constexpr (std::is_same_v<Held, std::int64_t>) {
          return integerTag;
        } else if constexpr (std::is_same_v<Held, double>) {
          return doubleTag;
        } else {
          return dataTag;
        }
      },
      value);
}

std::string_view columnText(sqlite3_stmt* row, int column) {
  const unsigned char* text = sqlite3_column_text(row, column);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text), static_cast<std::size_t>(sqlite3_column_bytes(row, column))};
}

DefaultsData columnBytes(sqlite3_stmt* row, int column) {
  const auto* bytes = static_cast<const std::uint8_t*>(sqlite3_column_blob(row, column));
  if (bytes == nullptr) return {};
  return DefaultsData(bytes, bytes + sqlite3_column_bytes(row, column));
}

// Built in place: besides saving a move, this keeps GCC from a false uninitialized-use warning on the variant.
template <class Alternative, class Argument>
std::optional<DefaultsValue> decoded(Argument&& argument) {
  return std::optional<DefaultsValue>(std::in_place, std::in_place_type<Alternative>, std::forward<Argument>(argument));
}

// A row whose tag and storage class disagree was not written by either side as the contract says; it reads as absent.
std::optional<DefaultsValue> decodeRow(sqlite3_stmt* row) {
  const std::string_view tag = columnText(row, 0);
  constexpr int valueColumn = 1;
  switch (sqlite3_column_type(row, valueColumn)) {
    case SQLITE_TEXT:
      if (tag == stringTag) return decoded<std::string>(columnText(row, valueColumn));
      break;
    case SQLITE_INTEGER: {
      const std::int64_t number = sqlite3_column_int64(row, valueColumn);
      if (tag == integerTag) return decoded<std::int64_t>(number);
      if (tag == boolTag && (number == 0 || number == 1)) return decoded<bool>(number == 1);
      break;
    }
    case SQLITE_FLOAT:
      if (tag == doubleTag) return decoded<double>(sqlite3_column_double(row, valueColumn));
      break;
    case SQLITE_BLOB:
      if (tag == dataTag) return decoded<DefaultsData>(columnBytes(row, valueColumn));
      break;
    default:
      break;
  }
  return std::nullopt;
}

std::error_code makePrivateFolder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), S_IRWXU) == 0 || errno == EEXIST) return {};
  return {errno, std::generic_category()};
}

// Owner-only from the first moment: the defaults can hold a session token.
std::error_code createPrivateFolders(const std::filesystem::path& folder) {
  const std::error_code problem = makePrivateFolder(folder);
  const std::filesystem::path parent = folder.parent_path();
  if (problem != std::errc::no_such_file_or_directory || parent.empty() || parent == folder) return problem;
  if (const std::error_code parentProblem = createPrivateFolders(parent)) return parentProblem;
  return makePrivateFolder(folder);
}

}  // namespace

void SqliteDefaultsStore::ConnectionCloser::operator()(sqlite3* connection) const { sqlite3_close(connection); }

SqliteDefaultsStore::SqliteDefaultsStore(std::filesystem::path databasePath)
    : connection_(openConnection(databasePath)) {}

SqliteDefaultsStore::~SqliteDefaultsStore() = default;

std::filesystem::path SqliteDefaultsStore::defaultPath(const Paths& paths) {
  return paths.applicationSupport() / "defaults.sqlite";
}

SqliteDefaultsStore::Connection SqliteDefaultsStore::openConnection(const std::filesystem::path& databasePath) {
  const auto reportUnopened = [&](const std::string& reason) {
    writeDiagnostic("cannot open " + databasePath.string() + ": " + reason + "; settings will not be kept");
  };
  if (databasePath.has_parent_path()) {
    if (const std::error_code problem = createPrivateFolders(databasePath.parent_path())) {
      reportUnopened("cannot create its folder: " + problem.message());
      return nullptr;
    }
  }

  // SQLite would create the file with the umask's mode, and a folder the host made may be open to others;
  // the tokens inside must stay the user's. Its journal files take the same mode from SQLite.
  if (const int descriptor = ::open(databasePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
      descriptor >= 0) {
    ::close(descriptor);
  }

  sqlite3* opened = nullptr;
  const int openResult = sqlite3_open_v2(databasePath.c_str(), &opened,
                                         SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  // SQLite hands out a handle even when opening fails, and that handle must be closed too.
  Connection connection(opened);
  if (openResult != SQLITE_OK) {
    reportUnopened(sqlite3_errmsg(connection.get()));
    return nullptr;
  }

  // The host writes at the same time; waiting for its lock beats failing the write.
  sqlite3_busy_timeout(connection.get(), busyTimeoutMilliseconds);
  // Readers then never block the writer. Failing here is harmless: the mode lives in the file, so another
  // process switching it at this moment switches it for us, and the rollback journal is correct anyway.
  sqlite3_exec(connection.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  // Each write must survive a power loss once it answered true, which WAL only promises at FULL.
  sqlite3_exec(connection.get(), "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
  if (sqlite3_exec(connection.get(), createTableSql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    reportUnopened(sqlite3_errmsg(connection.get()));
    return nullptr;
  }
  return connection;
}

std::optional<DefaultsValue> SqliteDefaultsStore::value(std::string_view key) const {
  std::lock_guard lock(mutex_);
  if (!connection_) return std::nullopt;
  const Statement statement = prepare(connection_.get(), selectSql);
  if (!statement || bindText(statement.get(), 1, key) != SQLITE_OK) {
    reportFailure("read", key);
    return std::nullopt;
  }
  switch (sqlite3_step(statement.get())) {
    case SQLITE_ROW:
      return decodeRow(statement.get());
    case SQLITE_DONE:
      return std::nullopt;
    default:
      reportFailure("read", key);
      return std::nullopt;
  }
}

bool SqliteDefaultsStore::set(std::string_view key, const DefaultsValue& value) {
  // SQLite turns NaN into NULL, so storing it would answer true and then read back as nothing.
  if (const auto* number = std::get_if<double>(&value); number != nullptr && std::isnan(*number)) {
    writeDiagnostic("cannot store \"" + std::string(key) + "\": NaN is not storable");
    return false;
  }
  std::lock_guard lock(mutex_);
  if (!connection_) return false;
  const Statement statement = prepare(connection_.get(), upsertSql);
  const bool stored = statement && bindText(statement.get(), 1, key) == SQLITE_OK &&
                      bindText(statement.get(), 2, typeTag(value)) == SQLITE_OK &&
                      bindValue(statement.get(), 3, value) == SQLITE_OK && sqlite3_step(statement.get()) == SQLITE_DONE;
  if (!stored) reportFailure("store", key);
  return stored;
}

bool SqliteDefaultsStore::remove(std::string_view key) {
  std::lock_guard lock(mutex_);
  if (!connection_) return false;
  const Statement statement = prepare(connection_.get(), deleteSql);
  const bool removed = statement && bindText(statement.get(), 1, key) == SQLITE_OK &&
                       sqlite3_step(statement.get()) == SQLITE_DONE;
  if (!removed) reportFailure("remove", key);
  return removed;
}

void SqliteDefaultsStore::reportFailure(std::string_view action, std::string_view key) const {
  const std::string reason = sqlite3_errmsg(connection_.get());
  writeDiagnostic("cannot " + std::string(action) + " \"" + std::string(key) + "\": " + reason);
}

}  // namespace quillet::platform::sqlite
