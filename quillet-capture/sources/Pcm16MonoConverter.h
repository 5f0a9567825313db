#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/result/Expected.h"
#include "platform/AudioInput.h"
#include "platform/Resampler.h"

namespace quillet::capture {

// Turns a source's buffers, at any rate and channel count, into 16 kHz mono 16-bit samples: the
// channels are averaged, then resampled by a resampler that keeps its state from buffer to buffer.
// A buffer in a new format gets a new resampler. Used from one source thread only.
class Pcm16MonoConverter {
 public:
  static constexpr double kOutputRate = 16000;

  // Room for the samples a resampler holds back from one buffer and releases with the next.
  static constexpr std::size_t kSpareOutputFrames = 256;

  // `spareCapacity` frames of room are added to the output a buffer's length calls for.
  explicit Pcm16MonoConverter(platform::ResamplerFactory resamplers, std::size_t spareCapacity = kSpareOutputFrames);

  // What one buffer gave: samples, the resampler's error, or no samples at all (nothing converted,
  // including when no resampler can be made for the buffer's format).
  [[nodiscard]] Expected<std::vector<std::int16_t>> convert(const platform::AudioBuffer& buffer);

  // Forgets the resampler; the next buffer makes a new one.
  void reset();

 private:
  [[nodiscard]] bool hasResamplerFor(const platform::AudioFormat& format) const;

  platform::ResamplerFactory resamplers_;
  std::size_t spareCapacity_;
  std::unique_ptr<platform::Resampler> resampler_;
  std::optional<platform::AudioFormat> inputFormat_;
  std::vector<float> mono_;  // reused from buffer to buffer
};

}  // namespace quillet::capture
