#include "quillet-dictate/audio/LevelMeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <string>
#include <vector>

namespace quillet::dictate {
namespace {

constexpr int kFrame = LevelMeter::kFrameLength;
constexpr double kWindowGain = 0.8165;
using Spectrum = std::array<float, LevelMeter::kBinCount>;

double hannWindow(int j) { return kWindowGain * (1 - std::cos(2 * std::numbers::pi * j / kFrame)); }

std::vector<float> sine(double cyclesPerFrame, double amplitude, int length = kFrame) {
  std::vector<float> samples(static_cast<std::size_t>(length));
  for (int j = 0; j < length; ++j) {
    samples[static_cast<std::size_t>(j)] =
        static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * cyclesPerFrame * j / kFrame));
  }
  return samples;
}

std::vector<float> impulse(int position) {
  std::vector<float> samples(kFrame, 0.0f);
  samples[static_cast<std::size_t>(position)] = 1.0f;
  return samples;
}

std::vector<int> binRange(int first, int last) {
  std::vector<int> bins;
  for (int bin = first; bin <= last; ++bin) bins.push_back(bin);
  return bins;
}

// The bins a band reads, found by lighting one bin of an otherwise silent spectrum at a time.
std::vector<int> binsReadByBand(int band, double sampleRate) {
  std::vector<int> bins;
  for (int bin = 0; bin < LevelMeter::kBinCount; ++bin) {
    Spectrum spectrum{};
    spectrum[static_cast<std::size_t>(bin)] = 1.0f;
    if (LevelMeter::bandsFromMagnitudes(spectrum, sampleRate)[static_cast<std::size_t>(band)] > 0) bins.push_back(bin);
  }
  return bins;
}

TEST(LevelMeterBandsTest, BandsReadTheBinsOfTheWorkedExamples) {
  struct Case {
    double sampleRate;
    int band;
    std::vector<int> bins;  // empty: the band is always 0
  };
  const Case cases[] = {
      {48000, 0, {}},
      {48000, 1, {1}},
      {48000, 2, {}},
      {48000, 3, {2}},
      {48000, 4, {}},
      {48000, 5, {3}},
      {48000, 6, {}},
      {48000, 7, {4}},
      {48000, 12, {9, 10}},
      {48000, 31, binRange(147, 169)},
      {44100, 0, {1}},
      {44100, 1, {}},
      {44100, 2, {}},
      {44100, 4, {}},
      {44100, 7, {}},
      // 8000 Hz is bin 512 at 16 kHz, past the last readable bin 510; the low edge is
      // 80 Hz × 100^(31/32) = 6927.7 Hz, bin 443.4.
      {16000, 31, binRange(443, 510)},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(binsReadByBand(testCase.band, testCase.sampleRate), testCase.bins)
        << "band " << testCase.band << " at " << testCase.sampleRate << " Hz";
  }
}

TEST(LevelMeterBandsTest, NoBinFeedsTwoBandsAndBinsZeroAndAboveFiveHundredTenFeedNone) {
  for (double sampleRate : {48000.0, 44100.0, 16000.0, 96000.0, 8000.0}) {
    for (int bin = 0; bin < LevelMeter::kBinCount; ++bin) {
      Spectrum spectrum{};
      spectrum[static_cast<std::size_t>(bin)] = 1.0f;
      const auto bands = LevelMeter::bandsFromMagnitudes(spectrum, sampleRate);
      const auto litBands = std::count_if(bands.begin(), bands.end(), [](float band) { return band > 0; });
      EXPECT_LE(litBands, bin == 0 || bin > 510 ? 0 : 1) << "bin " << bin << " at " << sampleRate << " Hz";
    }
  }
}

TEST(LevelMeterBandsTest, BandIsTheScaledLogarithmOfItsBinsMeanMagnitude) {
  struct Case {
    const char* name;
    std::vector<std::pair<int, float>> litBins;
    int band;
    double expected;
  };
  const Case cases[] = {
      {"silent band", {}, 1, 0.0},
      {"one bin of 0.05 in a one-bin band", {{1, 0.05f}}, 1, std::log10(2.0) / 1.5},
      {"mean over both bins of band 12", {{9, 0.45f}, {10, 0.0f}}, 12, std::log10(1 + 20 * 0.225) / 1.5},
      {"the mean divides by all 23 bins of band 31", {{147, 23 * 0.05f}}, 31, std::log10(2.0) / 1.5},
      {"a bin just outside band 31 is not read", {{170, 5.0f}}, 31, 0.0},
      {"loud bins are capped at 1", {{1, 100.0f}}, 1, 1.0},
  };
  for (const auto& testCase : cases) {
    Spectrum spectrum{};
    for (const auto& [bin, magnitude] : testCase.litBins) spectrum[static_cast<std::size_t>(bin)] = magnitude;
    const auto bands = LevelMeter::bandsFromMagnitudes(spectrum, 48000);
    ASSERT_EQ(bands.size(), 32u);
    EXPECT_NEAR(bands[static_cast<std::size_t>(testCase.band)], testCase.expected, 1e-6) << testCase.name;
  }
}

TEST(LevelMeterBandsTest, ASampleRateThatPlacesNoEdgeGivesZeroBands) {
  Spectrum loud;
  loud.fill(1.0f);
  for (double sampleRate : {0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(),
                            std::numeric_limits<double>::infinity(), 1e-30}) {
    EXPECT_EQ(LevelMeter::bandsFromMagnitudes(loud, sampleRate), std::vector<float>(32, 0.0f)) << sampleRate;
  }
}

TEST(LevelMeterTest, SineAtABinCentreHasThePackedFftMagnitude) {
  // The window is g·(1 − (e^iθ + e^−iθ)/2), so a bin-centred sine of amplitude 1 has |X[k]| = g·N/2 and
  // |X[k ± 1]| = g·N/4, nothing elsewhere; the packed real FFT doubles both.
  const double centre = kWindowGain * kFrame;
  const double neighbour = centre / 2;
  for (int bin : {10, 147, 300}) {
    LevelMeter meter;
    meter.analyze(sine(bin, 1.0), 48000);
    const auto magnitudes = meter.magnitudes();
    for (int k = 1; k < LevelMeter::kBinCount; ++k) {
      const double expected = k == bin ? centre : std::abs(k - bin) == 1 ? neighbour : 0.0;
      EXPECT_NEAR(magnitudes[static_cast<std::size_t>(k)], expected, 0.02) << "tone at bin " << bin << ", bin " << k;
    }
  }
}

TEST(LevelMeterTest, MagnitudesAreTwiceTheTransformOfTheWindowedZeroPaddedFrame) {
  struct Case {
    const char* name;
    std::vector<float> samples;
  };
  const Case cases[] = {
      {"tone between bins", sine(40.37, 0.6)},
      {"short buffer", sine(123.5, 0.9, 700)},
  };
  for (const auto& testCase : cases) {
    LevelMeter meter;
    meter.analyze(testCase.samples, 44100);
    for (int k = 1; k < LevelMeter::kBinCount; ++k) {
      std::complex<double> transform = 0;
      for (std::size_t j = 0; j < testCase.samples.size(); ++j) {
        const double angle = -2 * std::numbers::pi * static_cast<double>(j) * k / kFrame;
        transform += hannWindow(static_cast<int>(j)) * testCase.samples[j] * std::polar(1.0, angle);
      }
      EXPECT_NEAR(meter.magnitudes()[static_cast<std::size_t>(k)], 2 * std::abs(transform), 0.01)
          << testCase.name << ", bin " << k;
    }
  }
}

TEST(LevelMeterTest, RmsIsThatOfTheWindowedFrameWithPaddingCounted) {
  // Over a whole frame (1 − cos)² averages 1.5; over the first half its sum is 512 − 2·1 + 256 = 766.
  std::vector<float> fullThenLouder(2 * kFrame, 0.5f);
  std::fill(fullThenLouder.begin() + kFrame, fullThenLouder.end(), 1.0f);
  struct Case {
    const char* name;
    std::vector<float> samples;
    double expected;
  };
  const Case cases[] = {
      {"a full frame of 0.5", std::vector<float>(kFrame, 0.5f), 0.5 * kWindowGain * std::sqrt(1.5)},
      {"half a frame of 0.5, padded", std::vector<float>(kFrame / 2, 0.5f),
       0.5 * kWindowGain * std::sqrt(766.0 / kFrame)},
      {"samples after the 1024th are not analysed", fullThenLouder, 0.5 * kWindowGain * std::sqrt(1.5)},
      {"an impulse where the window peaks", impulse(512), 2 * kWindowGain / 32},
      {"an impulse a quarter in", impulse(256), kWindowGain / 32},
  };
  for (const auto& testCase : cases) {
    LevelMeter meter;
    EXPECT_NEAR(meter.analyze(testCase.samples, 48000).rms, testCase.expected, 1e-5) << testCase.name;
  }
}

TEST(LevelMeterTest, SamplesAfterThe1024thChangeNothing) {
  const auto frame = sine(37, 0.3);
  auto longer = frame;
  const auto tail = sine(200, 1.0, 3000);
  longer.insert(longer.end(), tail.begin(), tail.end());

  LevelMeter frameMeter;
  LevelMeter longerMeter;
  EXPECT_EQ(frameMeter.analyze(frame, 48000), longerMeter.analyze(longer, 48000));
  EXPECT_TRUE(std::equal(frameMeter.magnitudes().begin(), frameMeter.magnitudes().end(),
                         longerMeter.magnitudes().begin()));
}

TEST(LevelMeterTest, LiveLevelsCarryTheFrameRmsAndItsBands) {
  LevelMeter meter;
  const auto levels = meter.analyze(sine(150, 0.5), 48000);
  EXPECT_NEAR(levels.rms, 0.5 / std::sqrt(2.0), 1e-4);
  EXPECT_EQ(levels.bands, LevelMeter::bandsFromMagnitudes(meter.magnitudes(), 48000));
  // The tone lights bins 149 to 151, all inside band 31 at 48 kHz; rounding leaves far less than 0.01 elsewhere.
  for (int band = 0; band < 32; ++band) {
    EXPECT_EQ(levels.bands[static_cast<std::size_t>(band)] > 0.01f, band == 31) << "band " << band;
  }
}

// One buffer per letter: L loud (rms 0.1), M between the thresholds (0.01), Q quiet (0.001).
// The outcome has + for a live buffer and . for one at rest.
std::string gateOutcome(LevelMeter& meter, const std::string& buffers) {
  std::string outcome;
  for (char kind : buffers) {
    const float amplitude = kind == 'L' ? 0.1f : kind == 'M' ? 0.01f : 0.001f;
    // A constant frame's windowed rms is its amplitude × 0.8165 × √1.5, within 0.001 % of it.
    const auto levels = meter.analyze(std::vector<float>(kFrame, amplitude), 48000);
    if (levels.rms > 0) {
      outcome += '+';
    } else {
      EXPECT_EQ(levels, Levels{}) << "a buffer at rest has rms 0 and 32 zero bands";
      outcome += '.';
    }
  }
  return outcome;
}

TEST(LevelMeterGateTest, BuffersAreLiveOrAtRestByTheGateTable) {
  struct Case {
    const char* name;
    std::string buffers;
    std::string outcome;
  };
  const Case cases[] = {
      {"the first loud buffer is already live", "L", "+"},
      {"quiet buffers leave a closed gate closed", "QQQ", "..."},
      {"middle buffers never open a closed gate", "MMMM", "...."},
      {"the third quiet buffer in a row closes the gate", "LQQQ", "+++."},
      {"middle buffers keep an open gate open", "LQQMQQMQQ", "+++++++++"},
      {"after 10 loud buffers the quiet ones flicker, then rest", "LLLLLLLLLL" "QQQQQQQQQQQQ",
       "++++++++++" "++.+.+.+...."},
      {"a closed gate reopens on any buffer that leaves speech pending", "LLLLLLQQQM", "++++++++.+"},
      {"middle buffers wind pending speech down like quiet ones", "LLLLQQQM", "++++++.."},
  };
  for (const auto& testCase : cases) {
    LevelMeter meter;
    EXPECT_EQ(gateOutcome(meter, testCase.buffers), testCase.outcome) << testCase.name;
  }
}

TEST(LevelMeterGateTest, CountersFollowEachBufferAndResetGateClearsThem) {
  LevelMeter meter;
  EXPECT_FALSE(meter.speechGateOpen());

  gateOutcome(meter, "LLLQ");
  EXPECT_TRUE(meter.speechGateOpen());
  EXPECT_EQ(meter.speechFrames(), 2);
  EXPECT_EQ(meter.silenceFrames(), 1);

  gateOutcome(meter, "M");
  EXPECT_EQ(meter.speechFrames(), 1);
  EXPECT_EQ(meter.silenceFrames(), 0);

  meter.resetGate();
  EXPECT_FALSE(meter.speechGateOpen());
  EXPECT_EQ(meter.speechFrames(), 0);
  EXPECT_EQ(meter.silenceFrames(), 0);
  EXPECT_EQ(gateOutcome(meter, "MQL"), "..+") << "after a reset only speech opens the gate";
}

}  // namespace
}  // namespace quillet::dictate
