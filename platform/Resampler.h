#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result/Expected.h"

namespace quillet::platform {

// Converts mono float samples at one rate to 16-bit samples at another, keeping the
// filter state from one call to the next so that buffer edges leave no mark.
class Resampler {
 public:
  virtual ~Resampler() = default;

  // Converts `input` and appends at most `capacity` output samples to `output`.
  // Fails with the reason when the conversion failed (the output is then unchanged).
  virtual Status convert(std::span<const float> input, std::size_t capacity,
                                             std::vector<std::int16_t>& output) = 0;
};

// Builds a resampler from `inputRate` to `outputRate` (mono); nothing when it cannot be built.
using ResamplerFactory = std::function<std::unique_ptr<Resampler>(double inputRate, double outputRate)>;

}  // namespace quillet::platform
