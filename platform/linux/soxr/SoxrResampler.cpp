#include "platform/linux/soxr/SoxrResampler.h"

#include <soxr.h>

namespace quillet::platform::soxr {

std::unique_ptr<SoxrResampler> SoxrResampler::create(double inputRate, double outputRate) {
  if (!(inputRate > 0) || !(outputRate > 0)) return nullptr;
  soxr_error_t error = nullptr;
  soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
  // soxr seeds its dither from the clock, so the same recording would give different chunks (and
  // transcripts) from run to run; rounding alone is what speech recognition needs.
  io.flags |= SOXR_NO_DITHER;
  // Medium quality keeps the passband of speech intact at a fraction of the high-quality cost.
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
  const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
  ::soxr* stream = soxr_create(inputRate, outputRate, 1, &error, &io, &quality, &runtime);
  if (error != nullptr || stream == nullptr) {
    if (stream != nullptr) soxr_delete(stream);
    return nullptr;
  }
  return std::unique_ptr<SoxrResampler>(new SoxrResampler(stream));
}

SoxrResampler::~SoxrResampler() { soxr_delete(stream_); }

Status SoxrResampler::convert(std::span<const float> input, std::size_t capacity,
                                                  std::vector<std::int16_t>& output) {
  const std::size_t start = output.size();
  output.resize(start + capacity);
  std::size_t consumed = 0;
  std::size_t produced = 0;
  // soxr may take the input in parts; feed it until it is used up or the output is full.
  while (consumed < input.size() && produced < capacity) {
    std::size_t inputDone = 0;
    std::size_t outputDone = 0;
    const soxr_error_t error = soxr_process(stream_, input.data() + consumed, input.size() - consumed, &inputDone,
                                            output.data() + start + produced, capacity - produced, &outputDone);
    if (error != nullptr) {
      output.resize(start);
      return Error(std::string(error));
    }
    consumed += inputDone;
    produced += outputDone;
    if (inputDone == 0 && outputDone == 0) break;
  }
  output.resize(start + produced);
  return succeeded();
}

ResamplerFactory SoxrResampler::factory() {
  return [](double inputRate, double outputRate) -> std::unique_ptr<Resampler> {
    return create(inputRate, outputRate);
  };
}

}  // namespace quillet::platform::soxr
