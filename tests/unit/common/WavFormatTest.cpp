#include "common/audio/WavFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <span>
#include <vector>

namespace quillet::audio {
namespace {

TEST(WavFormatTest, HeaderOfA32000BytePayload) {
  const std::vector<std::uint8_t> payload(32000, 0x5A);
  const auto wav = WavFormat::buildWAV(payload);
  const std::vector<std::uint8_t> expectedHeader = {
      'R', 'I', 'F', 'F', 0x24, 0x7D, 0x00, 0x00,  // 32036
      'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
      16, 0, 0, 0,                                // fmt body size
      1, 0, 1, 0,                                 // PCM, one channel
      0x80, 0x3E, 0x00, 0x00,                     // 16000 Hz
      0x00, 0x7D, 0x00, 0x00,                     // 32000 bytes a second
      2, 0, 16, 0,                                // block align, bits per sample
      'd', 'a', 't', 'a', 0x00, 0x7D, 0x00, 0x00,  // 32000
  };
  ASSERT_EQ(wav.size(), 44u + 32000u);
  EXPECT_EQ(std::vector<std::uint8_t>(wav.begin(), wav.begin() + 44), expectedHeader);
  EXPECT_EQ(std::vector<std::uint8_t>(wav.begin() + 44, wav.end()), payload);
}

TEST(WavFormatTest, EmptyPayloadIsAValidEmptyFile) {
  const auto wav = WavFormat::buildWAV({});
  ASSERT_EQ(wav.size(), 44u);
  EXPECT_EQ(wav[4], 36);
  EXPECT_EQ(wav[40], 0);
}

TEST(WavFormatTest, NormalizedRms) {
  struct Case {
    const char* description;
    std::vector<std::uint8_t> bytes;
    double expected;
  };
  const Case cases[] = {
      {"empty", {}, 0.0},
      {"one byte", {0x7F}, 0.0},
      {"one full-scale sample divides by 32767", {0xFF, 0x7F}, 1.0},
      {"the most negative sample exceeds 1", {0x00, 0x80}, 32768.0 / 32767.0},
      {"a trailing odd byte is ignored", {0xFF, 0x7F, 0x12}, 1.0},
      {"half scale both ways", {0x00, 0x40, 0x00, 0xC0}, 16384.0 / 32767.0},
      {"one loud sample among silence", {0xFF, 0x7F, 0, 0, 0, 0, 0, 0}, 0.5},
  };
  for (const auto& testCase : cases) {
    EXPECT_NEAR(WavFormat::normalizedRMS(testCase.bytes), testCase.expected, 1e-6) << testCase.description;
  }
}

// The audio thread packs samples onto the chunk it is building and gates on the samples themselves, while
// chunks are measured from their bytes: both ways must agree exactly, or the gate and the chunk's rms disagree.
TEST(WavFormatTest, SamplesPackLittleEndianAfterWhatIsThereAndMeasureAsTheirBytesDo) {
  const std::vector<std::int16_t> samples = {0, 1, -1, 32767, -32768, 0x1234, -12345};
  const std::vector<std::uint8_t> expectedBytes = {0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0x7F, 0x00,
                                                   0x80, 0x34, 0x12, 0xC7, 0xCF};
  std::vector<std::uint8_t> pcm = {0xAA, 0xBB};
  WavFormat::appendPCM(samples, pcm);
  ASSERT_EQ(pcm.size(), 2 + expectedBytes.size());
  EXPECT_EQ(pcm[0], 0xAA);
  EXPECT_EQ(pcm[1], 0xBB);
  EXPECT_EQ(std::vector<std::uint8_t>(pcm.begin() + 2, pcm.end()), expectedBytes);

  const auto wav = WavFormat::buildWAVFromSamples(samples);
  EXPECT_EQ(std::vector<std::uint8_t>(wav.begin() + 44, wav.end()), expectedBytes);

  for (std::size_t count = 0; count <= samples.size(); ++count) {
    const std::span<const std::int16_t> some(samples.data(), count);
    EXPECT_EQ(WavFormat::normalizedRMS(some), WavFormat::normalizedRMS(std::span(expectedBytes).first(2 * count)))
        << count << " samples";
  }
}

TEST(WavFormatTest, DurationCountsWholeSamples) {
  EXPECT_DOUBLE_EQ(WavFormat::durationSeconds(32000), 1.0);
  EXPECT_DOUBLE_EQ(WavFormat::durationSeconds(32001), 1.0);
  EXPECT_DOUBLE_EQ(WavFormat::durationSeconds(1), 0.0);
}

}  // namespace
}  // namespace quillet::audio
