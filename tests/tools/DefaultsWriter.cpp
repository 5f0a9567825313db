// quillet-defaults-writer <database-path> <key-prefix> <count>
// Stores `count` keys "<key-prefix>.<i>" one by one, as a second process beside the tests would.
// Exits 0 when every write was accepted and landed in the database before the end, 1 when one did not,
// 2 on wrong arguments.

#include <charconv>
#include <chrono>
#include <iostream>
#include <span>
#include <string_view>

#include "platform/linux/sqlite/SqliteDefaultsStore.h"
#include "tests/tools/DefaultsWriterValues.h"

namespace {

constexpr int successExitCode = 0;
constexpr int failedWriteExitCode = 1;
constexpr int usageExitCode = 2;
// Only guards against a writer that never gets the lock; landing takes far less.
constexpr std::chrono::seconds landingBound(60);

bool parseCount(std::string_view text, int& count) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), count);
  return error == std::errc{} && end == text.data() + text.size() && count >= 0;
}

}  // namespace

int main(int argumentCount, char** argumentValues) {
  const std::span arguments(argumentValues, static_cast<std::size_t>(argumentCount));
  int count = 0;
  if (arguments.size() != 4 || !parseCount(arguments[3], count)) {
    std::cerr << "usage: quillet-defaults-writer <database-path> <key-prefix> <count>\n";
    return usageExitCode;
  }
  const std::string_view prefix = arguments[2];

  quillet::platform::sqlite::SqliteDefaultsStore store(arguments[1]);
  int exitCode = successExitCode;
  for (int index = 0; index < count; ++index) {
    const std::string key = quillet::test::defaultsWriterKey(prefix, index);
    if (const auto stored = store.set(key, quillet::test::expectedDefaultsValue(index)); stored.failed()) {
      std::cerr << "quillet-defaults-writer: storing " << key << " failed: " << stored.error().description() << "\n";
      exitCode = failedWriteExitCode;
    }
  }
  if (!store.flush(landingBound)) {
    std::cerr << "quillet-defaults-writer: the writes did not land in the database\n";
    exitCode = failedWriteExitCode;
  }
  return exitCode;
}
