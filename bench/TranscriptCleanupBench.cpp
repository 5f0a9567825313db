// Cost of cleaning one chunk's transcript of about 2 000 characters by rule, and of a pathological one.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "quillet-dictate/transcription/TranscriptCleanup.h"

namespace {

// Spoken commands, fillers, loose spacing and non-ASCII letters, repeated to at least `bytes` bytes.
std::string dictatedTranscript(std::size_t bytes) {
  constexpr std::string_view kSentence =
      "so um we shipped the build on friday comma and uh the tests passed period "
      "the café on straße three, erm , opened at 10:30 question mark привет мир new line ";
  std::string text;
  text.reserve(bytes + kSentence.size());
  while (text.size() < bytes) text += kSentence;
  return text;
}

void BM_TranscriptCleanupClean(benchmark::State& state) {
  const std::string transcript = dictatedTranscript(2'000);
  for (auto _ : state) benchmark::DoNotOptimize(quillet::dictate::TranscriptCleanup::clean(transcript, true));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(transcript.size()));
}
BENCHMARK(BM_TranscriptCleanupClean);

// A long run of blanks, as a misbehaving recogniser may send one; the cost must grow linearly with it.
void BM_TranscriptCleanupBlankRun(benchmark::State& state) {
  const std::string transcript = "start" + std::string(static_cast<std::size_t>(state.range(0)), ' ') + "end";
  for (auto _ : state) benchmark::DoNotOptimize(quillet::dictate::TranscriptCleanup::clean(transcript, true));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_TranscriptCleanupBlankRun)->RangeMultiplier(10)->Range(1'000, 100'000)->Complexity(benchmark::oN);

}  // namespace
