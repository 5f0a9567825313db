#include "common/audio/MonoMix.h"

#include <algorithm>

namespace quillet::audio {

void mixDownToMono(std::span<const float* const> channels, std::size_t frameCount, std::vector<float>& mono) {
  mono.assign(frameCount, 0.0f);
  if (channels.size() == 1) {
    std::copy(channels.front(), channels.front() + frameCount, mono.begin());
    return;
  }
  const float weight = channels.empty() ? 0.0f : 1.0f / float(channels.size());
  for (const float* channel : channels) {
    for (std::size_t frame = 0; frame < frameCount; ++frame) mono[frame] += channel[frame] * weight;
  }
}

}  // namespace quillet::audio
