#pragma once

#include <cstddef>
#include <vector>

namespace quillet::audio {

// A stretch of audio as 32-bit float samples, one vector per channel, all of the same length.
struct AudioSamples {
  double sampleRate = 0;
  std::vector<std::vector<float>> channels;

  [[nodiscard]] std::size_t frameCount() const { return channels.empty() ? 0 : channels.front().size(); }

  // The average of the channels, frame by frame.
  [[nodiscard]] std::vector<float> mixedToMono() const;
};

}  // namespace quillet::audio
