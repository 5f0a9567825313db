#pragma once

#include <vector>

namespace quillet::dictate {

// One microphone buffer as the waveform sees it: loudness and 32 spectrum bands in 0...1.
// Both are zero while the display gate holds the waveform at rest.
struct Levels {
  static constexpr int kBandCount = 32;

  float rms = 0;
  std::vector<float> bands = std::vector<float>(kBandCount, 0.0f);

  bool operator==(const Levels&) const = default;
};

}  // namespace quillet::dictate
