#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/SpeechStream.h"
#include "platform/linux/pocketsphinx/DecoderPool.h"

namespace quillet::platform::pocketsphinx {

// Continuous decoding on one leased decoder and its own thread. PocketSphinx's voice activity detector
// marks the utterances: one begins when it hears speech and ends after its half second of trailing
// silence, when the utterance is settled. Times come from the samples decoded so far: the decoder's
// frame count within the utterance, anchored at the current sample, places the utterance and its words.
class PocketSphinxStream final : public SpeechStream {
 public:
  static constexpr double kSampleRate = 16000;
  // The detector is looked at after each piece of this length, which bounds the error of its boundaries.
  static constexpr double kPieceSeconds = 0.1;
  // At most one provisional result per this much speech.
  static constexpr double kProvisionalSeconds = 0.5;

  PocketSphinxStream(DecoderPool::Lease lease, Handlers handlers);
  ~PocketSphinxStream() override;

  PocketSphinxStream(const PocketSphinxStream&) = delete;
  PocketSphinxStream& operator=(const PocketSphinxStream&) = delete;

  void push(std::span<const std::int16_t> samples) override;
  void finish() override;

 private:
  // The steps below run on thread_ only; each fails with the reason.
  void decodeLoop();
  [[nodiscard]] Status decodeBlock(const std::vector<std::int16_t>& block);
  [[nodiscard]] Status decodePiece(std::span<const std::int16_t> piece);
  // Ends the utterance, reports its settled text, and starts the next one unless `last`.
  [[nodiscard]] Status settle(bool last);
  void reportProvisional();
  // Where the decoder's frames `first` to `last` (inclusive) lie, the newest frame being at the current sample.
  [[nodiscard]] SpeechTimeRange rangeOfFrames(int first, int last) const;
  [[nodiscard]] SpeechTimeRange settledRange() const;
  [[nodiscard]] double secondsDecoded() const { return double(position_) / kSampleRate; }

  DecoderPool::Lease lease_;
  const Handlers handlers_;
  int framesPerSecond_ = 100;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::vector<std::int16_t>> pending_;
  bool finishing_ = false;
  std::atomic<bool> cancelled_{false};

  // Decoding state, thread_ only.
  std::size_t position_ = 0;  // samples decoded since the first one pushed
  bool inSpeech_ = false;
  std::size_t sinceProvisional_ = 0;
  std::string lastProvisional_;
  double lastSettledEnd_ = 0;

  // Last, so that it starts once everything above exists.
  std::thread thread_;
};

}  // namespace quillet::platform::pocketsphinx
