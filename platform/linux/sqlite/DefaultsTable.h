#pragma once

#include <optional>
#include <string_view>

#include "platform/DefaultsStore.h"
#include "platform/linux/sqlite/SqliteConnection.h"

namespace quillet::platform::sqlite {

// The `defaults (key, type, value)` table the host reads and writes too: one row per key, the value's
// type kept as a tag beside it. The rows are exactly those the host expects, byte for byte.
class DefaultsTable {
 public:
  // What a read found: the value (nothing for a missing or inconsistent row), or why it could not read.
  using Read = Expected<std::optional<DefaultsValue>, SqliteFailure>;

  // Creates the table unless it is there. It looks first, because even CREATE TABLE IF NOT EXISTS
  // waits for the write lock, which the host may hold for a long time.
  [[nodiscard]] static SqliteOutcome createIfMissing(sqlite3* connection);

  [[nodiscard]] static Read read(sqlite3* connection, std::string_view key);

  // Stores `value` under `key`, or deletes the key's row when `value` is nothing.
  [[nodiscard]] static SqliteOutcome write(sqlite3* connection, std::string_view key,
                                           const std::optional<DefaultsValue>& value);
};

}  // namespace quillet::platform::sqlite
