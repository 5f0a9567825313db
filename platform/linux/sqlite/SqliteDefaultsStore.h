#pragma once

#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/DefaultsStore.h"
#include "platform/Paths.h"

struct sqlite3;

namespace quillet::platform::sqlite {

// The defaults domain kept in an SQLite database the host opens too: table `defaults (key, type, value)`,
// one row per key, each write committed on its own so the two processes never lose each other's keys.
// A database that cannot be opened leaves an always-empty store whose writes answer false.
class SqliteDefaultsStore final : public DefaultsStore {
 public:
  explicit SqliteDefaultsStore(std::filesystem::path databasePath);
  ~SqliteDefaultsStore() override;

  SqliteDefaultsStore(const SqliteDefaultsStore&) = delete;
  SqliteDefaultsStore& operator=(const SqliteDefaultsStore&) = delete;

  // Where the host and the agent both look for the database.
  [[nodiscard]] static std::filesystem::path defaultPath(const Paths& paths);

  [[nodiscard]] std::optional<DefaultsValue> value(std::string_view key) const override;
  bool set(std::string_view key, const DefaultsValue& value) override;
  bool remove(std::string_view key) override;

 private:
  struct ConnectionCloser {
    void operator()(sqlite3* connection) const;
  };
  using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

  [[nodiscard]] static Connection openConnection(const std::filesystem::path& databasePath);
  void reportFailure(std::string_view action, std::string_view key) const;

  // Held across each statement so the error message read after a failure belongs to that statement.
  mutable std::mutex mutex_;
  Connection connection_;
};

}  // namespace quillet::platform::sqlite
