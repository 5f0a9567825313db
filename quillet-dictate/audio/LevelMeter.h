#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "quillet-dictate/audio/Levels.h"

struct fftwf_plan_s;

namespace quillet::dictate {

// The waveform's spectrum analysis of one microphone buffer: a Hann-windowed
// 1024-point real FFT folded into 32 log-spaced bands from 80 Hz up to
// min(rate/2, 8000 Hz), behind a display gate that holds the waveform at rest
// between utterances. It serves the display only; chunk cutting never reads it.
//
// Not thread-safe: the streamer calls it on its one serial analysis queue.
// Building and destroying a meter use FFTW's planner, which is not thread-safe
// either, so meters are built and destroyed on one thread (the streamer's owner).
class LevelMeter {
 public:
  static constexpr int kFrameLength = 1024;
  static constexpr int kBinCount = kFrameLength / 2;
  static constexpr int kBandCount = Levels::kBandCount;

  LevelMeter();
  ~LevelMeter();
  LevelMeter(const LevelMeter&) = delete;
  LevelMeter& operator=(const LevelMeter&) = delete;

  // Analyses the first 1024 of `samples` (mono, zero-padded when shorter) recorded at
  // `sampleRate` and steps the display gate: live levels while it is open, rest levels
  // (rms 0, 32 zeros) while it is closed. A sample rate that is not a positive finite
  // number gives live buffers 32 zero bands, since no band edge can be placed.
  Levels analyze(std::span<const float> samples, double sampleRate);

  // Closes the gate and clears both counters, as at the start and end of a recording.
  void resetGate();

  [[nodiscard]] bool speechGateOpen() const { return speechGateOpen_; }
  [[nodiscard]] std::int64_t speechFrames() const { return speechFrames_; }
  [[nodiscard]] std::int64_t silenceFrames() const { return silenceFrames_; }

  // Magnitudes of the last analysed frame on the packed real FFT's scale: m[k] = 2·|X[k]|
  // for k = 1...511; m[0] packs the DC and Nyquist terms and no band reads it.
  [[nodiscard]] std::span<const float, kBinCount> magnitudes() const { return magnitudes_; }

  // The 32 display bands of a magnitude spectrum at `sampleRate`, each in 0...1.
  static std::vector<float> bandsFromMagnitudes(std::span<const float, kBinCount> magnitudes, double sampleRate);

 private:
  using Complex = float[2];  // the layout of fftwf_complex

  void loadWindowedFrame(std::span<const float> samples);
  [[nodiscard]] float windowedRootMeanSquare() const;
  void transformToMagnitudes();
  // Advances the gate by one buffer of loudness `rms`; answers whether the buffer is shown live.
  bool stepGate(float rms);

  std::array<float, kFrameLength> window_{};
  std::array<float, kBinCount> magnitudes_{};
  float* frame_ = nullptr;
  Complex* spectrum_ = nullptr;
  fftwf_plan_s* plan_ = nullptr;

  bool speechGateOpen_ = false;
  std::int64_t speechFrames_ = 0;
  std::int64_t silenceFrames_ = 0;
};

}  // namespace quillet::dictate
