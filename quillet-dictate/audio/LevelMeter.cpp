#include "quillet-dictate/audio/LevelMeter.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quillet::dictate {

namespace {

// The normalised Hann window's gain, which keeps a windowed frame's rms close to the raw frame's.
constexpr double kWindowGain = 0.8165;
// Bands start at 80 Hz; the constant is its base-2 logarithm as the band layout fixes it.
constexpr float kLog2Of80Hz = 6.321928f;
constexpr float kHighestBandEdgeHz = 8000.0f;
// The highest bin any band reads.
constexpr int kLastReadableBin = 510;

// Louder buffers count as speech and open the gate; buffers above kHoldingRms keep an open gate open.
constexpr float kOpeningRms = 0.012f;
constexpr float kHoldingRms = 0.008f;
// More consecutive quiet buffers than this close an open gate.
constexpr std::int64_t kQuietBuffersBeforeClosing = 2;

// Bin index of an edge. Edges past the spectrum, and the infinite or undefined edges of a sample
// rate that is not a positive number, all read nothing; capping them first keeps the conversion defined.
int binOfEdge(float edge) { return static_cast<int>(std::fmin(edge, static_cast<float>(LevelMeter::kBinCount))); }

}  // namespace

LevelMeter::LevelMeter() {
  for (int j = 0; j < kFrameLength; ++j) {
    const double turn = 2.0 * std::numbers::pi * j / kFrameLength;
    window_[static_cast<std::size_t>(j)] = static_cast<float>(kWindowGain * (1.0 - std::cos(turn)));
  }
  frame_ = fftwf_alloc_real(kFrameLength);
  spectrum_ = fftwf_alloc_complex(kBinCount + 1);
  if (frame_ && spectrum_) plan_ = fftwf_plan_dft_r2c_1d(kFrameLength, frame_, spectrum_, FFTW_ESTIMATE);
}

LevelMeter::~LevelMeter() {
  if (plan_) fftwf_destroy_plan(plan_);
  fftwf_free(spectrum_);
  fftwf_free(frame_);
}

Levels LevelMeter::analyze(std::span<const float> samples, double sampleRate) {
  // Without the transform's memory the meter shows silence; the recording itself does not depend on it.
  if (!plan_) return Levels{};
  loadWindowedFrame(samples);
  const float rms = windowedRootMeanSquare();
  transformToMagnitudes();
  if (!stepGate(rms)) return Levels{};
  return Levels{.rms = rms, .bands = bandsFromMagnitudes(magnitudes_, sampleRate)};
}

void LevelMeter::resetGate() {
  speechGateOpen_ = false;
  speechFrames_ = 0;
  silenceFrames_ = 0;
}

void LevelMeter::loadWindowedFrame(std::span<const float> samples) {
  const std::size_t analysed = std::min(samples.size(), static_cast<std::size_t>(kFrameLength));
  for (std::size_t j = 0; j < analysed; ++j) frame_[j] = samples[j] * window_[j];
  std::fill(frame_ + analysed, frame_ + kFrameLength, 0.0f);
}

float LevelMeter::windowedRootMeanSquare() const {
  double sumOfSquares = 0;
  for (int j = 0; j < kFrameLength; ++j) sumOfSquares += static_cast<double>(frame_[j]) * frame_[j];
  return static_cast<float>(std::sqrt(sumOfSquares / kFrameLength));
}

void LevelMeter::transformToMagnitudes() {
  fftwf_execute_dft_r2c(plan_, frame_, spectrum_);
  // The packed real FFT holds twice FFTW's unscaled X[k], and packs DC and Nyquist into bin 0.
  magnitudes_[0] = 2.0f * std::hypot(spectrum_[0][0], spectrum_[kBinCount][0]);
  for (int k = 1; k < kBinCount; ++k) {
    const float real = spectrum_[k][0];
    const float imaginary = spectrum_[k][1];
    magnitudes_[static_cast<std::size_t>(k)] = 2.0f * std::sqrt(real * real + imaginary * imaginary);
  }
}

std::vector<float> LevelMeter::bandsFromMagnitudes(std::span<const float, kBinCount> magnitudes, double sampleRate) {
  std::vector<float> bands(kBandCount, 0.0f);
  // Edges are placed in single precision, which decides the bins that sit on a boundary.
  const float rate = static_cast<float>(sampleRate);
  const float binHz = rate / static_cast<float>(kFrameLength);
  const float top = std::log2(std::min(rate * 0.5f, kHighestBandEdgeHz)) - kLog2Of80Hz;
  const auto edgeInBins = [&](int edgeIndex) {
    return std::exp2(top * static_cast<float>(edgeIndex) / static_cast<float>(kBandCount) + kLog2Of80Hz) / binHz;
  };

  for (int band = 0; band < kBandCount; ++band) {
    const int lowBin = binOfEdge(edgeInBins(band));
    int highBin = binOfEdge(edgeInBins(band + 1));
    const int first = std::max(lowBin, 1);
    if (highBin > kLastReadableBin) {
      if (lowBin > kLastReadableBin) continue;
      highBin = kLastReadableBin + 1;
    } else if (first >= highBin) {
      continue;
    }
    float sum = 0;
    for (int bin = first; bin < highBin; ++bin) sum += magnitudes[static_cast<std::size_t>(bin)];
    const float mean = sum / static_cast<float>(highBin - first);
    bands[static_cast<std::size_t>(band)] = std::min(std::log10(mean * 20.0f + 1.0f) / 1.5f, 1.0f);
  }
  return bands;
}

bool LevelMeter::stepGate(float rms) {
  bool closing = false;
  if (rms > kOpeningRms) {
    ++speechFrames_;
    silenceFrames_ = 0;
  } else if (rms > kHoldingRms) {
    silenceFrames_ = 0;
    speechFrames_ = std::max<std::int64_t>(0, speechFrames_ - 1);
  } else {
    ++silenceFrames_;
    speechFrames_ = std::max<std::int64_t>(0, speechFrames_ - 1);
    closing = silenceFrames_ > kQuietBuffersBeforeClosing;
  }
  // An open gate stays open until the quiet run closes it; a closed one opens on any pending speech.
  speechGateOpen_ = speechGateOpen_ ? !closing : speechFrames_ > 0;
  return speechGateOpen_;
}

}  // namespace quillet::dictate
