#include "platform/linux/soxr/SoxrResampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace quillet::platform::soxr {
namespace {

// Feeds `seconds` of a sine at `frequency` in buffers of `framesPerBuffer` and answers all output.
std::vector<std::int16_t> resampleSine(Resampler& resampler, double inputRate, double frequency, double amplitude,
                                       double seconds, std::size_t framesPerBuffer) {
  std::vector<std::int16_t> output;
  const auto totalFrames = std::size_t(inputRate * seconds);
  for (std::size_t first = 0; first < totalFrames; first += framesPerBuffer) {
    std::vector<float> buffer(std::min(framesPerBuffer, totalFrames - first));
    for (std::size_t index = 0; index < buffer.size(); ++index) {
      buffer[index] = float(amplitude * std::sin(2 * std::numbers::pi * frequency * double(first + index) / inputRate));
    }
    const auto capacity = std::size_t(16000.0 / inputRate * double(buffer.size())) + 16;
    EXPECT_EQ(resampler.convert(buffer, capacity, output), succeeded());
  }
  return output;
}

TEST(SoxrResamplerTest, KeepsTheRatioAndASmoothSignalAcrossBufferEdges) {
  struct Case {
    double inputRate;
    std::size_t framesPerBuffer;
  };
  const Case cases[] = {{48000, 4096}, {48000, 4800}, {44100, 4096}, {16000, 1024}, {96000, 960}};
  for (const auto& testCase : cases) {
    auto resampler = SoxrResampler::create(testCase.inputRate, 16000);
    ASSERT_TRUE(resampler) << testCase.inputRate;
    const double amplitude = 0.5;
    const auto output = resampleSine(*resampler, testCase.inputRate, 440, amplitude, 3.0, testCase.framesPerBuffer);

    // All but the filter's delay comes out.
    EXPECT_NEAR(double(output.size()), 48000.0, 800.0) << testCase.inputRate;

    // After the delay the output is the same sine: its level and no jump larger than the sine's own slope.
    const std::vector<std::int16_t> steady(output.begin() + 2000, output.end());
    double sumOfSquares = 0;
    int largestStep = 0;
    for (std::size_t index = 0; index < steady.size(); ++index) {
      sumOfSquares += double(steady[index]) * double(steady[index]);
      if (index > 0) largestStep = std::max(largestStep, std::abs(int(steady[index]) - int(steady[index - 1])));
    }
    const double rms = std::sqrt(sumOfSquares / double(steady.size()));
    EXPECT_NEAR(rms, amplitude * 32767.0 / std::sqrt(2.0), amplitude * 32767.0 * 0.02) << testCase.inputRate;
    const double sineSlope = amplitude * 32767.0 * 2 * std::numbers::pi * 440 / 16000;
    EXPECT_LT(largestStep, sineSlope * 1.1) << testCase.inputRate;
  }
}

// A quiet signal between sample steps is where dither would show: each run must give the same samples.
TEST(SoxrResamplerTest, TheSameInputGivesTheSameSamplesEveryTime) {
  for (const double inputRate : {48000.0, 44100.0, 16000.0}) {
    std::vector<std::vector<std::int16_t>> runs;
    for (int run = 0; run < 3; ++run) {
      auto resampler = SoxrResampler::create(inputRate, 16000);
      ASSERT_TRUE(resampler) << inputRate;
      runs.push_back(resampleSine(*resampler, inputRate, 300, 2.7 / 32767.0, 1.0, 4096));
    }
    ASSERT_FALSE(runs[0].empty());
    EXPECT_EQ(runs[1], runs[0]) << inputRate;
    EXPECT_EQ(runs[2], runs[0]) << inputRate;
  }
}

TEST(SoxrResamplerTest, ClipsInsteadOfWrapping) {
  auto resampler = SoxrResampler::create(16000, 16000);
  ASSERT_TRUE(resampler);
  std::vector<std::int16_t> output;
  for (int round = 0; round < 4; ++round) {
    ASSERT_EQ(resampler->convert(std::vector<float>(1600, 1.5f), 1616, output), succeeded());
    ASSERT_EQ(resampler->convert(std::vector<float>(1600, -1.5f), 1616, output), succeeded());
  }
  ASSERT_FALSE(output.empty());
  EXPECT_EQ(*std::max_element(output.begin(), output.end()), 32767);
  EXPECT_EQ(*std::min_element(output.begin(), output.end()), -32768);
}

TEST(SoxrResamplerTest, NeverWritesPastTheCapacity) {
  auto resampler = SoxrResampler::create(48000, 16000);
  ASSERT_TRUE(resampler);
  std::vector<std::int16_t> output{7};
  ASSERT_EQ(resampler->convert(std::vector<float>(48000, 0.25f), 100, output), succeeded());
  EXPECT_LE(output.size(), 101u);
  EXPECT_EQ(output.front(), 7) << "earlier output is kept";
}

TEST(SoxrResamplerTest, RefusesRatesItCannotUse) {
  EXPECT_FALSE(SoxrResampler::create(0, 16000));
  EXPECT_FALSE(SoxrResampler::create(48000, -1));
  EXPECT_FALSE(SoxrResampler::create(std::nan(""), 16000));
  EXPECT_TRUE(SoxrResampler::factory()(44100, 16000));
}

}  // namespace
}  // namespace quillet::platform::soxr
