#include "platform/linux/sqlite/DefaultsWriteBehind.h"

#include <sqlite3.h>

#include <algorithm>
#include <limits>

#include "platform/linux/sqlite/DefaultsTable.h"

namespace quillet::platform::sqlite {
namespace {

using namespace std::chrono_literals;

// How long one attempt waits for the host's lock; long enough to ride out an ordinary write of the host,
// and harmless here since nobody waits on this thread.
constexpr auto attemptWait = 5s;
// How often a waiting attempt looks at the lock again: a write lands this soon after the host lets go.
constexpr auto lockPollInterval = 5ms;
// Pauses between failed attempts, doubling up to the longest.
constexpr auto firstRetryDelay = 250ms;
constexpr auto longestRetryDelay = 8s;
// At exit the process has half a second to end in; the last attempt keeps well inside it.
constexpr auto lastAttemptBound = 150ms;
// Between failed attempts during that last one, so that a database refusing at once is not hammered.
constexpr auto lastAttemptPause = 10ms;

std::string quotedKeys(const std::vector<std::string>& keys) {
  std::string text;
  for (const std::string& key : keys) text += (text.empty() ? "\"" : ", \"") + key + "\"";
  return text;
}

}  // namespace

DefaultsWriteBehind::DefaultsWriteBehind(std::filesystem::path databasePath, Landed landed)
    : databasePath_(std::move(databasePath)),
      landed_(std::move(landed)),
      retryDelay_(firstRetryDelay),
      giveUpAt_(Clock::time_point::max().time_since_epoch().count()),
      thread_([this] { run(); }) {}

DefaultsWriteBehind::~DefaultsWriteBehind() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    retryAt_ = Clock::now();
    giveUpAt_ = (Clock::now() + lastAttemptBound).time_since_epoch().count();
  }
  wake_.notify_all();
  thread_.join();
  std::lock_guard lock(mutex_);
  if (!waiting_.empty()) {
    writeDiagnostic("could not store " + waitingKeys() + " before the end: " + lastFailure_ +
                    "; these settings are lost");
  }
}

void DefaultsWriteBehind::enqueue(Changes changes) {
  {
    std::lock_guard lock(mutex_);
    ++lastGeneration_;
    for (auto& [key, change] : changes) {
      waiting_.insert_or_assign(std::move(key), Waiting{std::move(change), lastGeneration_});
    }
  }
  wake_.notify_all();
}

std::optional<DefaultsWriteBehind::Change> DefaultsWriteBehind::waiting(std::string_view key) const {
  std::lock_guard lock(mutex_);
  const auto found = waiting_.find(key);
  if (found == waiting_.end()) return std::nullopt;
  return found->second.change;
}

bool DefaultsWriteBehind::flush(std::chrono::milliseconds bound) {
  std::unique_lock lock(mutex_);
  const std::uint64_t generation = lastGeneration_;
  retryAt_ = Clock::now();
  wake_.notify_all();
  return settled_.wait_for(lock, bound, [&] { return landedUpTo(generation); });
}

bool DefaultsWriteBehind::landedUpTo(std::uint64_t generation) const {
  return std::none_of(waiting_.begin(), waiting_.end(),
                      [generation](const auto& entry) { return entry.second.generation <= generation; });
}

void DefaultsWriteBehind::run() {
  std::unique_lock lock(mutex_);
  while (true) {
    if (waiting_.empty()) {
      if (stopping_) return;
      wake_.wait(lock);
      continue;
    }
    if (stopping_ && Clock::now().time_since_epoch().count() >= giveUpAt_) return;
    if (Clock::now() < retryAt_) {
      wake_.wait_until(lock, retryAt_);
      continue;
    }
    const Batch batch = takeBatch();
    lock.unlock();
    const SqliteOutcome committed = commit(batch.changes);
    // Heard before the changes stop waiting, so a reader finds them in one place or the other.
    if (committed.hasValue()) landed_(batch.changes);
    lock.lock();
    settle(batch, committed);
  }
}

DefaultsWriteBehind::Batch DefaultsWriteBehind::takeBatch() const {
  Batch batch;
  for (const auto& [key, entry] : waiting_) {
    batch.changes.emplace_back(key, entry.change);
    batch.generations.push_back(entry.generation);
  }
  return batch;
}

void DefaultsWriteBehind::settle(const Batch& batch, const SqliteOutcome& committed) {
  if (committed.hasValue()) {
    for (std::size_t index = 0; index < batch.changes.size(); ++index) {
      const auto found = waiting_.find(batch.changes[index].first);
      if (found != waiting_.end() && found->second.generation == batch.generations[index]) waiting_.erase(found);
    }
    if (failedAttempts_ > 0) {
      writeDiagnostic("stored the waiting settings after " + std::to_string(failedAttempts_) +
                      (failedAttempts_ == 1 ? " failed attempt" : " failed attempts"));
    }
    failedAttempts_ = 0;
    retryDelay_ = firstRetryDelay;
    settled_.notify_all();
    return;
  }
  // Reported once per run of failures; the key names only, since the values can be session tokens.
  if (failedAttempts_ == 0 && !stopping_) {
    writeDiagnostic("cannot store " + waitingKeys() + " yet: " + committed.error().message + "; trying again");
  }
  ++failedAttempts_;
  lastFailure_ = committed.error().message;
  if (stopping_) {
    retryAt_ = Clock::now() + lastAttemptPause;
  } else {
    retryAt_ = Clock::now() + retryDelay_;
    retryDelay_ = std::min<Clock::duration>(retryDelay_ * 2, longestRetryDelay);
  }
  settled_.notify_all();
}

std::string DefaultsWriteBehind::waitingKeys() const {
  std::vector<std::string> keys;
  for (const auto& entry : waiting_) keys.push_back(entry.first);
  return quotedKeys(keys);
}

SqliteOutcome DefaultsWriteBehind::connect() {
  auto opened = openConnection(databasePath_);
  if (opened.failed()) return std::move(opened).error();
  connection_ = std::move(opened).value();
  sqlite3_busy_handler(connection_.get(), &DefaultsWriteBehind::waitForLock, this);
  // Readers then never block the writer. Failing here is harmless: the mode lives in the file, so another
  // process switching it at this moment switches it for us, and the rollback journal is correct anyway.
  (void)execute(connection_.get(), "PRAGMA journal_mode=WAL");
  // A write that landed must survive a power loss, which WAL only promises at FULL.
  (void)execute(connection_.get(), "PRAGMA synchronous=FULL");
  return {};
}

SqliteOutcome DefaultsWriteBehind::commit(const Changes& changes) {
  attemptDeadline_ = Clock::now() + attemptWait;
  if (!connection_) {
    if (SqliteOutcome connected = connect(); connected.failed()) return connected;
  }
  sqlite3* connection = connection_.get();
  // The write lock is taken first, so the wait for the host happens before anything is written.
  if (SqliteOutcome begun = execute(connection, "BEGIN IMMEDIATE"); begun.failed()) return begun;
  // Made again if the host dropped it; the lookup inside costs nothing once the lock is held.
  SqliteOutcome outcome = DefaultsTable::createIfMissing(connection);
  for (auto change = changes.begin(); outcome.hasValue() && change != changes.end(); ++change) {
    outcome = DefaultsTable::write(connection, change->first, change->second);
  }
  if (outcome.hasValue()) outcome = execute(connection, "COMMIT");
  if (outcome.failed()) (void)execute(connection, "ROLLBACK");
  return outcome;
}

int DefaultsWriteBehind::waitForLock(void* writer, int /*attempts*/) {
  const auto* self = static_cast<const DefaultsWriteBehind*>(writer);
  const Clock::time_point giveUpAt{Clock::duration(self->giveUpAt_.load())};
  const Clock::time_point deadline = std::min(self->attemptDeadline_, giveUpAt);
  const Clock::time_point now = Clock::now();
  if (now >= deadline) return 0;
  std::this_thread::sleep_for(std::min<Clock::duration>(lockPollInterval, deadline - now));
  return 1;
}

}  // namespace quillet::platform::sqlite
