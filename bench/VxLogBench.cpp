// Cost of one log line: the file is opened, checked, appended and closed on every call.
#include <benchmark/benchmark.h>

#include "platform/linux/posix/SystemClock.h"
#include "quillet-dictate/shell/VxLog.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

void BM_VxLogLine(benchmark::State& state) {
  quillet::test::TemporaryDirectory folder;
  quillet::platform::posix::SystemClock clock;
  quillet::dictate::VxLog log(folder.path() / "vessio.log", clock, {});
  for (auto _ : state) log.log("🎙️ chunk 12 ready: 2.40 s, rms 0.0213");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_VxLogLine);

void BM_VxLogFormat(benchmark::State& state) {
  quillet::platform::posix::SystemClock clock;
  for (auto _ : state) benchmark::DoNotOptimize(quillet::dictate::VxLog::formatLine(clock.wallNow(), "message"));
}
BENCHMARK(BM_VxLogFormat);

}  // namespace
