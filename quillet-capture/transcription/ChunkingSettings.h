#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/EnvironmentLookup.h"

namespace quillet::capture {

// The energy rule that cuts audio into utterance-sized WAV files, tunable through the environment.
struct ChunkingSettings {
  std::int64_t silenceFlushMs = 600;  // trailing silence that ends an utterance
  std::int64_t minSpeechMs = 1000;    // shortest piece, silence included, that a pause may cut
  std::int64_t maxChunkMs = 25000;    // a piece this long is cut whatever the audio
  std::int16_t silenceLevel = 350;    // a block whose mean absolute sample is below this is silence

  // The defaults, each replaced by its QL_VAD_* variable when that holds a whole number; the
  // silence level is clamped to the 16-bit sample range.
  static ChunkingSettings fromEnvironment(const platform::EnvironmentLookup& lookup);

  // `text` as a signed 64-bit decimal: an optional "+" or "-" and at least one digit, nothing else.
  static std::optional<std::int64_t> wholeNumber(std::string_view text);

  bool operator==(const ChunkingSettings&) const = default;
};

}  // namespace quillet::capture
