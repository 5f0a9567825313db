#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/DefaultsStore.h"
#include "platform/linux/sqlite/SqliteConnection.h"

namespace quillet::platform::sqlite {

// Commits the store's writes on a thread of its own, so that a lock the host holds on the database never
// holds up the thread that wrote. Writes wait in memory until they land; whatever is waiting when the
// writer gets to it goes into one transaction, and a failed transaction is tried again later, for as long
// as the process runs.
class DefaultsWriteBehind {
 public:
  // A value to store under a key, or nothing to remove the key.
  using Change = std::optional<DefaultsValue>;
  using Changes = std::vector<std::pair<std::string, Change>>;
  // Hears, on the writer's thread, the changes of each committed transaction, before they stop waiting.
  using Landed = std::function<void(const Changes& changes)>;

  DefaultsWriteBehind(std::filesystem::path databasePath, Landed landed);
  // Makes a last attempt of bounded length and names on standard error the keys it could not write.
  ~DefaultsWriteBehind();

  DefaultsWriteBehind(const DefaultsWriteBehind&) = delete;
  DefaultsWriteBehind& operator=(const DefaultsWriteBehind&) = delete;

  // Queues `changes` to land together, in one transaction; answers at once.
  void enqueue(Changes changes);

  // The change still waiting for `key`, if there is one.
  [[nodiscard]] std::optional<Change> waiting(std::string_view key) const;

  // Tries at once, and waits up to `bound` for everything queued so far to land; answers whether it has.
  bool flush(std::chrono::milliseconds bound);

 private:
  using Clock = std::chrono::steady_clock;

  struct Waiting {
    Change change;
    std::uint64_t generation = 0;
  };
  // What one transaction writes, with the generation of each change so that a key written again
  // meanwhile keeps waiting with its newer value.
  struct Batch {
    Changes changes;
    std::vector<std::uint64_t> generations;
  };

  void run();
  [[nodiscard]] Batch takeBatch() const;
  void settle(const Batch& batch, const SqliteOutcome& committed);
  [[nodiscard]] SqliteOutcome commit(const Changes& changes);
  [[nodiscard]] SqliteOutcome connect();
  [[nodiscard]] bool landedUpTo(std::uint64_t generation) const;
  [[nodiscard]] std::string waitingKeys() const;
  // SQLite's busy handler on the writer's connection.
  static int waitForLock(void* writer, int attempts);

  const std::filesystem::path databasePath_;
  const Landed landed_;

  // Used by the writer's thread only.
  Connection connection_;
  Clock::time_point attemptDeadline_;

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable settled_;
  std::map<std::string, Waiting, std::less<>> waiting_;
  std::uint64_t lastGeneration_ = 0;
  Clock::time_point retryAt_;
  Clock::duration retryDelay_;
  std::size_t failedAttempts_ = 0;
  std::string lastFailure_;
  bool stopping_ = false;
  // Read by the busy handler while the writer waits for a lock; the end of the last attempt at exit.
  std::atomic<Clock::rep> giveUpAt_;

  std::thread thread_;
};

}  // namespace quillet::platform::sqlite
