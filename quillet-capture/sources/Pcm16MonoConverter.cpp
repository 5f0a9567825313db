#include "quillet-capture/sources/Pcm16MonoConverter.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "common/audio/MonoMix.h"

namespace quillet::capture {

Pcm16MonoConverter::Pcm16MonoConverter(platform::ResamplerFactory resamplers, std::size_t spareCapacity)
    : resamplers_(std::move(resamplers)), spareCapacity_(spareCapacity) {}

bool Pcm16MonoConverter::hasResamplerFor(const platform::AudioFormat& format) const {
  return resampler_ && inputFormat_ && inputFormat_->sampleRate == format.sampleRate &&
         inputFormat_->channelCount == format.channelCount;
}

Expected<std::vector<std::int16_t>> Pcm16MonoConverter::convert(const platform::AudioBuffer& buffer) {
  if (!hasResamplerFor(buffer.format)) {
    inputFormat_ = buffer.format;
    resampler_ = resamplers_ ? resamplers_(buffer.format.sampleRate, kOutputRate) : nullptr;
  }
  const double rate = buffer.format.sampleRate;
  if (!resampler_ || buffer.channels.empty() || buffer.frameCount == 0 || !(rate > 0) || !std::isfinite(rate)) {
    return std::vector<std::int16_t>{};
  }

  audio::mixDownToMono(buffer.channels, buffer.frameCount, mono_);
  // The output a buffer's length calls for, with room for what the resampler held back last time;
  // capped at the 32-bit frame count an audio buffer can hold.
  const double wanted =
      std::min(kOutputRate / rate * double(buffer.frameCount), double(std::numeric_limits<std::uint32_t>::max()));
  const std::size_t capacity = std::size_t(wanted) + spareCapacity_;

  std::vector<std::int16_t> samples;
  samples.reserve(capacity);
  if (auto converted = resampler_->convert(mono_, capacity, samples); converted.failed()) return converted.error();
  return samples;
}

void Pcm16MonoConverter::reset() {
  resampler_.reset();
  inputFormat_.reset();
}

}  // namespace quillet::capture
