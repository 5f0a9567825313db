#pragma once

#include "platform/Resampler.h"

namespace quillet::platform::fake {

// An exact-ratio resampler for tests: it picks the input sample nearest below each output
// instant, carrying its position across calls, so 4800 frames at 48 kHz give exactly 1600.
class FakeResampler final : public Resampler {
 public:
  FakeResampler(double inputRate, double outputRate) : step_(inputRate / outputRate) {}

  Status convert(std::span<const float> input, std::size_t capacity,
                                     std::vector<std::int16_t>& output) override;

  // Makes the next conversion fail with this description.
  std::optional<Error> failNext;

  static ResamplerFactory factory();

 private:
  double step_;
  double position_ = 0;  // of the next output sample, relative to the start of the next input
};

}  // namespace quillet::platform::fake
