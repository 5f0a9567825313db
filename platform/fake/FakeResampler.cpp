#include "platform/fake/FakeResampler.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quillet::platform::fake {

Status FakeResampler::convert(std::span<const float> input, std::size_t capacity,
                                                  std::vector<std::int16_t>& output) {
  if (auto failure = std::exchange(failNext, std::nullopt)) return *failure;
  std::size_t produced = 0;
  while (position_ < double(input.size()) && produced < capacity) {
    const float sample = std::clamp(input[std::size_t(position_)], -1.0f, 1.0f);
    output.push_back(std::int16_t(std::lround(sample * 32767.0f)));
    ++produced;
    position_ += step_;
  }
  position_ = std::max(0.0, position_ - double(input.size()));
  return succeeded();
}

ResamplerFactory FakeResampler::factory() {
  return [](double inputRate, double outputRate) -> std::unique_ptr<Resampler> {
    if (!(inputRate > 0) || !(outputRate > 0)) return nullptr;
    return std::make_unique<FakeResampler>(inputRate, outputRate);
  };
}

}  // namespace quillet::platform::fake
