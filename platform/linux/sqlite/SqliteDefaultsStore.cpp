#include "platform/linux/sqlite/SqliteDefaultsStore.h"

#include <sqlite3.h>

#include <cmath>
#include <utility>

#include "platform/linux/sqlite/DefaultsTable.h"
#include "platform/linux/sqlite/PrivateDatabaseFiles.h"

namespace quillet::platform::sqlite {
namespace {

// The longest a caller's read or set-up step waits for another process's lock. The callers include the
// main loop, so this stays a few milliseconds; the writer's thread does the long waiting.
constexpr int callerWaitMilliseconds = 5;

}  // namespace

SqliteDefaultsStore::SqliteDefaultsStore(std::filesystem::path databasePath) {
  const auto reportUnopened = [&](const std::string& reason) {
    writeDiagnostic("cannot open " + databasePath.string() + ": " + reason + "; settings will not be kept");
  };
  if (const std::error_code problem = PrivateDatabaseFiles::prepare(databasePath, writeDiagnostic)) {
    reportUnopened("cannot create its folder: " + problem.message());
    return;
  }
  auto opened = openConnection(databasePath);
  if (opened.failed()) {
    reportUnopened(opened.error().message);
    return;
  }
  Connection reader = std::move(opened).value();
  sqlite3_busy_timeout(reader.get(), callerWaitMilliseconds);
  // Readers then never block the writer. Failing here is harmless: the writer tries again on its connection.
  (void)execute(reader.get(), "PRAGMA journal_mode=WAL");
  // A table the host's lock keeps from being made now is made by the writer before its first write;
  // anything else means this is no database SQLite can use.
  if (const SqliteOutcome created = DefaultsTable::createIfMissing(reader.get());
      created.failed() && !created.error().lockedOut()) {
    reportUnopened(created.error().message);
    return;
  }
  reader_ = std::move(reader);
  writer_ = std::make_unique<DefaultsWriteBehind>(
      std::move(databasePath), [this](const DefaultsWriteBehind::Changes& landed) { remember(landed); });
}

SqliteDefaultsStore::~SqliteDefaultsStore() = default;

std::filesystem::path SqliteDefaultsStore::defaultPath(const Paths& paths) {
  return paths.applicationSupport() / "defaults.sqlite";
}

std::optional<DefaultsValue> SqliteDefaultsStore::value(std::string_view key) const {
  if (!writer_) return std::nullopt;
  if (auto waiting = writer_->waiting(key)) return std::move(*waiting);

  std::uint64_t landingsBefore = 0;
  {
    std::lock_guard lock(knownMutex_);
    landingsBefore = landings_;
  }
  DefaultsTable::Read read = std::optional<DefaultsValue>();
  {
    std::lock_guard lock(readerMutex_);
    read = DefaultsTable::read(reader_.get(), key);
  }

  std::lock_guard lock(knownMutex_);
  if (read.hasValue()) {
    if (landings_ == landingsBefore) known_.insert_or_assign(std::string(key), read.value());
    readsFailing_ = false;
    return read.value();
  }
  // Reported once per run of failures: a locked database would otherwise fill the log with every read.
  if (!readsFailing_) {
    writeDiagnostic("cannot read \"" + std::string(key) + "\" now: " + read.error().message +
                    "; answering the last value known");
    readsFailing_ = true;
  }
  // A change that landed while this read was locked out is known by now.
  if (const auto found = known_.find(key); found != known_.end()) return found->second;
  return std::nullopt;
}

Status SqliteDefaultsStore::set(std::string_view key, const DefaultsValue& value) {
  return setMany(DefaultsEntries{{std::string(key), value}});
}

Status SqliteDefaultsStore::setMany(const DefaultsEntries& entries) {
  DefaultsWriteBehind::Changes changes;
  for (const auto& [key, value] : entries) {
    if (auto checked = storable(key, value); checked.failed()) return checked;
    changes.emplace_back(key, value);
  }
  return accept(std::move(changes));
}

Status SqliteDefaultsStore::remove(std::string_view key) {
  return accept(DefaultsWriteBehind::Changes{{std::string(key), std::nullopt}});
}

bool SqliteDefaultsStore::flush(std::chrono::milliseconds bound) { return !writer_ || writer_->flush(bound); }

Status SqliteDefaultsStore::accept(DefaultsWriteBehind::Changes changes) {
  if (!writer_) return Error("the settings database could not be opened");
  writer_->enqueue(std::move(changes));
  return succeeded();
}

void SqliteDefaultsStore::remember(const DefaultsWriteBehind::Changes& landed) {
  std::lock_guard lock(knownMutex_);
  for (const auto& [key, change] : landed) known_.insert_or_assign(key, change);
  ++landings_;
}

Status SqliteDefaultsStore::storable(std::string_view key, const DefaultsValue& value) {
  // SQLite turns NaN into NULL, so storing it would be accepted and then read back as nothing.
  if (const auto* number = std::get_if<double>(&value); number != nullptr && std::isnan(*number)) {
    Error refusal("cannot store \"" + std::string(key) + "\": NaN is not storable");
    writeDiagnostic(refusal.description());
    return refusal;
  }
  return succeeded();
}

}  // namespace quillet::platform::sqlite
