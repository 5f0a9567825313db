#include "platform/linux/sqlite/SqliteConnection.h"

#include <sqlite3.h>

#include <iostream>

namespace quillet::platform::sqlite {

void ConnectionCloser::operator()(sqlite3* connection) const { sqlite3_close(connection); }

void StatementFinalizer::operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }

bool SqliteFailure::lockedOut() const { return code == SQLITE_BUSY || code == SQLITE_LOCKED; }

SqliteFailure failureOf(sqlite3* connection, int code) {
  return SqliteFailure{code & 0xFF, connection != nullptr ? sqlite3_errmsg(connection) : sqlite3_errstr(code)};
}

SqliteFailure latestFailureOf(sqlite3* connection) { return failureOf(connection, sqlite3_errcode(connection)); }

Expected<Connection, SqliteFailure> openConnection(const std::filesystem::path& databasePath) {
  sqlite3* opened = nullptr;
  const int result = sqlite3_open_v2(databasePath.c_str(), &opened,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  // SQLite hands out a handle even when opening fails, and that handle must be closed too.
  Connection connection(opened);
  if (result != SQLITE_OK) return failureOf(connection.get(), result);
  return connection;
}

SqliteOutcome execute(sqlite3* connection, const char* sql) {
  const int result = sqlite3_exec(connection, sql, nullptr, nullptr, nullptr);
  if (result == SQLITE_OK) return {};
  return failureOf(connection, result);
}

Statement prepare(sqlite3* connection, std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(connection, sql.data(), static_cast<int>(sql.size()), &statement, nullptr);
  return Statement(statement);
}

void writeDiagnostic(const std::string& message) { std::cerr << "[defaults] " + message + "\n"; }

}  // namespace quillet::platform::sqlite
