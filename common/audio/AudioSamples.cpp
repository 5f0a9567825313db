#include "common/audio/AudioSamples.h"

#include "common/audio/MonoMix.h"

namespace quillet::audio {

std::vector<float> AudioSamples::mixedToMono() const {
  std::vector<const float*> starts;
  starts.reserve(channels.size());
  for (const auto& channel : channels) starts.push_back(channel.data());
  std::vector<float> mono;
  mixDownToMono(starts, frameCount(), mono);
  return mono;
}

}  // namespace quillet::audio
