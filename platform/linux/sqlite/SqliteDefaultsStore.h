#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/DefaultsStore.h"
#include "platform/Paths.h"
#include "platform/linux/sqlite/DefaultsWriteBehind.h"
#include "platform/linux/sqlite/SqliteConnection.h"

namespace quillet::platform::sqlite {

// The defaults domain kept in an SQLite database the host opens too: table `defaults (key, type, value)`,
// one row per key. Writes are accepted at once and committed behind the caller's back by a thread of the
// store (see DefaultsWriteBehind), so a lock the host holds never stalls the caller; until they land they
// read back from memory. Reads wait a few milliseconds at most for a lock and then answer the last value
// this store knew. A database that cannot be opened leaves an always-empty store whose writes fail.
class SqliteDefaultsStore final : public DefaultsStore {
 public:
  explicit SqliteDefaultsStore(std::filesystem::path databasePath);
  // Makes a last, bounded attempt at what is still waiting to be written; see DefaultsWriteBehind.
  ~SqliteDefaultsStore() override;

  SqliteDefaultsStore(const SqliteDefaultsStore&) = delete;
  SqliteDefaultsStore& operator=(const SqliteDefaultsStore&) = delete;

  // Where the host and the agent both look for the database.
  [[nodiscard]] static std::filesystem::path defaultPath(const Paths& paths);

  [[nodiscard]] std::optional<DefaultsValue> value(std::string_view key) const override;
  Status set(std::string_view key, const DefaultsValue& value) override;
  Status setMany(const DefaultsEntries& entries) override;
  Status remove(std::string_view key) override;

  // Waits up to `bound` for every write accepted so far to be in the database; answers whether it is.
  bool flush(std::chrono::milliseconds bound);

 private:
  Status accept(DefaultsWriteBehind::Changes changes);
  void remember(const DefaultsWriteBehind::Changes& landed);
  [[nodiscard]] static Status storable(std::string_view key, const DefaultsValue& value);

  // The callers' own connection; held across each statement so the message read after a failure is its own.
  mutable std::mutex readerMutex_;
  Connection reader_;

  // What the database last said, or was last told, for each key: the answer while a read is locked out.
  mutable std::mutex knownMutex_;
  mutable std::map<std::string, std::optional<DefaultsValue>, std::less<>> known_;
  // Counts landed transactions, so that a read which started before one never overwrites what it wrote.
  std::uint64_t landings_ = 0;
  mutable bool readsFailing_ = false;

  // Last: its thread ends before the members it updates go.
  std::unique_ptr<DefaultsWriteBehind> writer_;
};

}  // namespace quillet::platform::sqlite
