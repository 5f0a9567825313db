#pragma once

#include <sqlite3.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillet::test {

// The table as the host creates it when it runs first.
inline constexpr const char* hostTableSql =
    "CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY NOT NULL, "
    "type TEXT NOT NULL CHECK (type IN ('string','bool','integer','double','data')), value)";

// What a raw query sees of one row: its type tag, the storage class of its value, and the value as an SQL literal.
struct StoredRow {
  std::string type;
  int storageClass = SQLITE_NULL;
  std::string literal;
};

// A connection of its own to the settings store, as the host application opens one, to write and inspect rows
// behind the programs' backs.
class HostDefaultsConnection {
 public:
  explicit HostDefaultsConnection(const std::filesystem::path& databasePath) {
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

}  // namespace quillet::test
