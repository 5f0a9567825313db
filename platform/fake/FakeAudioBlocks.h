#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "platform/AudioInput.h"

// What the fake inputs share: the buffer they hand over and the constant audio tests ask for.
namespace quillet::platform::fake {

// A buffer over `channels` (one vector per channel, all of one length) at `sampleRate`.
inline AudioBuffer bufferOver(const std::vector<std::vector<float>>& channels, double sampleRate) {
  AudioBuffer buffer;
  buffer.frameCount = channels.empty() ? 0 : channels.front().size();
  for (const auto& channel : channels) buffer.channels.push_back(channel.data());
  buffer.format = AudioFormat{sampleRate, int(channels.size())};
  return buffer;
}

// Hands `deliver` `seconds` of `value` on `channelCount` channels at `sampleRate`, in blocks of at most
// `framesPerBuffer` frames.
template <class Deliver>
void deliverConstantBlocks(float value, double seconds, double sampleRate, int channelCount,
                           std::size_t framesPerBuffer, Deliver deliver) {
  auto framesLeft = std::size_t(std::llround(seconds * sampleRate));
  while (framesLeft > 0) {
    const std::size_t frames = std::min(framesLeft, framesPerBuffer);
    deliver(std::vector<std::vector<float>>(std::size_t(channelCount), std::vector<float>(frames, value)));
    framesLeft -= frames;
  }
}

}  // namespace quillet::platform::fake
