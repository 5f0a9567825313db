#include "platform/linux/sqlite/DefaultsTable.h"

#include <sqlite3.h>

#include <type_traits>
#include <utility>

namespace quillet::platform::sqlite {
namespace {

// The type tags the host reads and writes.
constexpr std::string_view stringTag = "string";
constexpr std::string_view boolTag = "bool";
constexpr std::string_view integerTag = "integer";
constexpr std::string_view doubleTag = "double";
constexpr std::string_view dataTag = "data";

constexpr std::string_view tableExistsSql = "SELECT 1 FROM sqlite_master WHERE type='table' AND name='defaults'";
constexpr const char* createTableSql =
    "CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY NOT NULL, "
    "type TEXT NOT NULL CHECK (type IN ('string','bool','integer','double','data')), value)";
constexpr std::string_view selectSql = "SELECT type, value FROM defaults WHERE key=?";
constexpr std::string_view upsertSql =
    "INSERT INTO defaults(key,type,value) VALUES(?,?,?) "
    "ON CONFLICT(key) DO UPDATE SET type=excluded.type, value=excluded.value";
constexpr std::string_view deleteSql = "DELETE FROM defaults WHERE key=?";

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

// Runs a statement that returns no rows.
SqliteOutcome runToCompletion(sqlite3* connection, sqlite3_stmt* statement) {
  const int result = sqlite3_step(statement);
  if (result == SQLITE_DONE) return {};
  return failureOf(connection, result);
}

}  // namespace

SqliteOutcome DefaultsTable::createIfMissing(sqlite3* connection) {
  const Statement lookup = prepare(connection, tableExistsSql);
  if (!lookup) return latestFailureOf(connection);
  switch (const int result = sqlite3_step(lookup.get())) {
    case SQLITE_ROW:
      return {};
    case SQLITE_DONE:
      return execute(connection, createTableSql);
    default:
      return failureOf(connection, result);
  }
}

DefaultsTable::Read DefaultsTable::read(sqlite3* connection, std::string_view key) {
  const Statement statement = prepare(connection, selectSql);
  if (!statement) return latestFailureOf(connection);
  if (const int bound = bindText(statement.get(), 1, key); bound != SQLITE_OK) return failureOf(connection, bound);
  switch (const int result = sqlite3_step(statement.get())) {
    case SQLITE_ROW:
      return decodeRow(statement.get());
    case SQLITE_DONE:
      return std::optional<DefaultsValue>();
    default:
      return failureOf(connection, result);
  }
}

SqliteOutcome DefaultsTable::write(sqlite3* connection, std::string_view key,
                                   const std::optional<DefaultsValue>& value) {
  const Statement statement = prepare(connection, value ? upsertSql : deleteSql);
  if (!statement) return latestFailureOf(connection);
  int bound = bindText(statement.get(), 1, key);
  if (value && bound == SQLITE_OK) bound = bindText(statement.get(), 2, typeTag(*value));
  if (value && bound == SQLITE_OK) bound = bindValue(statement.get(), 3, *value);
  if (bound != SQLITE_OK) return failureOf(connection, bound);
  return runToCompletion(connection, statement.get());
}

}  // namespace quillet::platform::sqlite
