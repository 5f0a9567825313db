#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/result/Expected.h"

struct sqlite3;
struct sqlite3_stmt;

namespace quillet::platform::sqlite {

struct ConnectionCloser {
  void operator()(sqlite3* connection) const;
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const;
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// A failed SQLite call: its primary result code and the message read right after it.
struct SqliteFailure {
  int code = 0;
  std::string message;

  // Another connection held a lock the call needed; the same call may succeed later.
  [[nodiscard]] bool lockedOut() const;
};

// Success, or the failed call's code and message.
using SqliteOutcome = Expected<void, SqliteFailure>;

// The failure `code` means on `connection`.
[[nodiscard]] SqliteFailure failureOf(sqlite3* connection, int code);

// The failure of the connection's latest call.
[[nodiscard]] SqliteFailure latestFailureOf(sqlite3* connection);

// Opens `databasePath` for reading and writing, creating it when missing. SQLite touches the file only at
// the first statement, so this fails only when not even a handle could be made.
[[nodiscard]] Expected<Connection, SqliteFailure> openConnection(const std::filesystem::path& databasePath);

[[nodiscard]] SqliteOutcome execute(sqlite3* connection, const char* sql);

// A statement that failed to compile is null; the caller reads the connection's message.
[[nodiscard]] Statement prepare(sqlite3* connection, std::string_view sql);

// Written in one piece so lines from several threads do not interleave.
void writeDiagnostic(const std::string& message);

}  // namespace quillet::platform::sqlite
