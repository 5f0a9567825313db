#pragma once

#include <memory>

#include "platform/Resampler.h"

struct soxr;

namespace quillet::platform::soxr {

// A libsoxr stream resampler, mono float in, 16-bit out; its filter state carries over between calls.
class SoxrResampler final : public Resampler {
 public:
  // Nothing when libsoxr refuses the rates.
  static std::unique_ptr<SoxrResampler> create(double inputRate, double outputRate);
  ~SoxrResampler() override;

  SoxrResampler(const SoxrResampler&) = delete;
  SoxrResampler& operator=(const SoxrResampler&) = delete;

  Status convert(std::span<const float> input, std::size_t capacity,
                                     std::vector<std::int16_t>& output) override;

  // The factory for behaviour code.
  static ResamplerFactory factory();

 private:
  explicit SoxrResampler(::soxr* stream) : stream_(stream) {}

  ::soxr* stream_;
};

}  // namespace quillet::platform::soxr
