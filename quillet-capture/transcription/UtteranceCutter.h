#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "quillet-capture/transcription/ChunkingSettings.h"

namespace quillet::capture {

// One piece of 16 kHz mono audio cut for the host.
struct Utterance {
  std::vector<std::int16_t> samples;
  std::int64_t startMs = 0;  // capture-relative arrival time of its first block

  // Length of the audio held, truncated to whole milliseconds.
  [[nodiscard]] std::int64_t durationMs() const;
};

// Collects converted blocks and cuts them into utterances with a simple energy rule: a piece ends
// after enough trailing silence once it is long enough, or when it reaches the maximum length.
// Pieces with no speech at all are discarded, never handed out. Not thread-safe: one queue owns it.
class UtteranceCutter {
 public:
  static constexpr std::int64_t kSampleRate = 16000;

  explicit UtteranceCutter(ChunkingSettings settings) : settings_(settings) {}

  // Adds one block that arrived `arrivalMs` into the capture; answers the piece when this block
  // completes one.
  [[nodiscard]] std::optional<Utterance> append(std::span<const std::int16_t> block, std::int64_t arrivalMs);

  // Hands out whatever is buffered, unless it holds no speech (then it is dropped).
  [[nodiscard]] std::optional<Utterance> flush();

  // Mean of the absolute sample values, integer division; 0 for no samples. |-32768| counts as 32768.
  [[nodiscard]] static std::int64_t meanAbsolute(std::span<const std::int16_t> block);

  // Whole milliseconds of `sampleCount` samples.
  [[nodiscard]] static std::int64_t millisecondsOf(std::size_t sampleCount);

 private:
  void reset();

  ChunkingSettings settings_;
  std::vector<std::int16_t> samples_;
  std::int64_t chunkStartMs_ = 0;
  bool hadSpeech_ = false;
  std::int64_t trailingSilenceMs_ = 0;
};

}  // namespace quillet::capture
