// Cost of the settings write-through: an assignment is accepted at once and committed by the store's writer
// thread; a write is measured until it has landed in the database.
#include <benchmark/benchmark.h>

#include <chrono>

#include "common/runtime/NotificationCenter.h"
#include "platform/linux/sqlite/SqliteDefaultsStore.h"
#include "quillet-dictate/shell/SettingsManager.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using quillet::platform::sqlite::SqliteDefaultsStore;

void BM_DefaultsSetString(benchmark::State& state) {
  quillet::test::TemporaryDirectory folder;
  SqliteDefaultsStore store(folder.path() / "defaults.sqlite");
  for (auto _ : state) {
    benchmark::DoNotOptimize(store.set("vantix.supabaseAccessToken", std::string(900, 'a')));
    store.flush(std::chrono::seconds(10));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DefaultsSetString);

void BM_DefaultsReadBool(benchmark::State& state) {
  quillet::test::TemporaryDirectory folder;
  SqliteDefaultsStore store(folder.path() / "defaults.sqlite");
  if (store.set("vantix.grammarEnabled", true).failed()) state.SkipWithError("the store refused the value");
  for (auto _ : state) benchmark::DoNotOptimize(store.boolValue("vantix.grammarEnabled"));
}
BENCHMARK(BM_DefaultsReadBool);

// Start-up cost of the settings: opening the database and loading every property.
void BM_SettingsManagerLoad(benchmark::State& state) {
  quillet::test::TemporaryDirectory folder;
  quillet::NotificationCenter notifications;
  for (auto _ : state) {
    SqliteDefaultsStore store(folder.path() / "defaults.sqlite");
    quillet::dictate::SettingsManager settings(store, notifications);
    benchmark::DoNotOptimize(settings.supabaseURL.get());
  }
}
BENCHMARK(BM_SettingsManagerLoad);

}  // namespace
