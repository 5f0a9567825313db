#include "quillet-capture/transcription/ChunkingSettings.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "common/contract/EnvironmentVariables.h"

namespace quillet::capture {

namespace {

void applyOverride(std::int64_t& setting, const platform::EnvironmentLookup& lookup, const char* name) {
  if (const auto value = lookup(name)) {
    if (const auto number = ChunkingSettings::wholeNumber(*value)) setting = *number;
  }
}

}  // namespace

std::optional<std::int64_t> ChunkingSettings::wholeNumber(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  // from_chars takes a "-" but never a "+", so the sign is read above and only digits go in.
  const std::string_view number = negative ? text : digits;
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (error != std::errc() || end != number.data() + number.size()) return std::nullopt;
  return value;
}

ChunkingSettings ChunkingSettings::fromEnvironment(const platform::EnvironmentLookup& lookup) {
  ChunkingSettings settings;
  applyOverride(settings.silenceFlushMs, lookup, environment::kVadSilenceMs);
  applyOverride(settings.minSpeechMs, lookup, environment::kVadMinSpeechMs);
  applyOverride(settings.maxChunkMs, lookup, environment::kVadMaxChunkMs);
  std::int64_t silenceLevel = settings.silenceLevel;
  applyOverride(silenceLevel, lookup, environment::kVadSilenceLevel);
  settings.silenceLevel = std::int16_t(std::clamp<std::int64_t>(silenceLevel, std::numeric_limits<std::int16_t>::min(),
                                                                std::numeric_limits<std::int16_t>::max()));
  return settings;
}

}  // namespace quillet::capture
