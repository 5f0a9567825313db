// Cost of the faithfulness check on a dictation and its rewrite; it must grow linearly with length.
#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <string_view>

#include "quillet-dictate/backend/CleanupGuard.h"

namespace {

// Text of exactly `characters` user-perceived characters, cycling through `words`.
std::string textOfLength(std::size_t characters, std::string_view words) {
  std::string text;
  text.reserve(characters);
  while (text.size() < characters) text += words.substr(0, characters - text.size());
  return text;
}

void BM_CleanupGuardIsFaithfulCleanup(benchmark::State& state) {
  const auto characters = static_cast<std::size_t>(state.range(0));
  const std::string input = textOfLength(characters, "so um we shipped the build on friday and the tests passed ");
  const std::string output = textOfLength(characters, "We shipped the build on Friday, and the tests passed. ");
  for (auto _ : state) benchmark::DoNotOptimize(quillet::dictate::CleanupGuard::isFaithfulCleanup(input, output));
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(input.size() + output.size()));
}
BENCHMARK(BM_CleanupGuardIsFaithfulCleanup)->RangeMultiplier(10)->Range(1'000, 100'000)->Complexity(benchmark::oN);

}  // namespace
