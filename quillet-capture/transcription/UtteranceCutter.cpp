#include "quillet-capture/transcription/UtteranceCutter.h"

#include <cstdlib>

namespace quillet::capture {

std::int64_t Utterance::durationMs() const { return UtteranceCutter::millisecondsOf(samples.size()); }

std::int64_t UtteranceCutter::millisecondsOf(std::size_t sampleCount) {
  // In integers, so that 16000 samples are exactly 1000 ms with no rounding of a floating quotient.
  return std::int64_t(sampleCount) * 1000 / kSampleRate;
}

std::int64_t UtteranceCutter::meanAbsolute(std::span<const std::int16_t> block) {
  if (block.empty()) return 0;
  std::int64_t sum = 0;
  for (const std::int16_t sample : block) sum += std::abs(std::int64_t(sample));
  return sum / std::int64_t(block.size());
}

std::optional<Utterance> UtteranceCutter::append(std::span<const std::int16_t> block, std::int64_t arrivalMs) {
  if (samples_.empty()) chunkStartMs_ = arrivalMs;
  samples_.insert(samples_.end(), block.begin(), block.end());

  if (meanAbsolute(block) < settings_.silenceLevel) {
    trailingSilenceMs_ += millisecondsOf(block.size());
  } else {
    hadSpeech_ = true;
    trailingSilenceMs_ = 0;
  }

  const std::int64_t totalMs = millisecondsOf(samples_.size());
  const bool pauseEndsSpeech =
      hadSpeech_ && trailingSilenceMs_ >= settings_.silenceFlushMs && totalMs >= settings_.minSpeechMs;
  if (pauseEndsSpeech || totalMs >= settings_.maxChunkMs) return flush();
  return std::nullopt;
}

std::optional<Utterance> UtteranceCutter::flush() {
  if (samples_.empty()) return std::nullopt;
  std::optional<Utterance> piece;
  if (hadSpeech_) piece = Utterance{samples_, chunkStartMs_};
  reset();
  return piece;
}

void UtteranceCutter::reset() {
  // clear() keeps the buffer's storage for the next piece; the next block sets the start again.
  samples_.clear();
  hadSpeech_ = false;
  trailingSilenceMs_ = 0;
}

}  // namespace quillet::capture
