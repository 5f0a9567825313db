#include <gtest/gtest.h>

#include <utility>

#include "TestAudio.h"
#include "platform/fake/FakeResampler.h"
#include "quillet-capture/sources/Pcm16MonoConverter.h"

namespace quillet::capture {
namespace {

using platform::fake::FakeResampler;
using testing::TestAudio;

// The resamplers a converter made, for a test to look at and script.
struct ResamplerLog {
  std::vector<std::pair<double, double>> rates;
  std::vector<std::size_t> capacities;
  std::optional<Error> failWith;

  platform::ResamplerFactory factory() {
    return [this](double inputRate, double outputRate) -> std::unique_ptr<platform::Resampler> {
      rates.emplace_back(inputRate, outputRate);
      return std::make_unique<Recording>(*this, inputRate, outputRate);
    };
  }

  // A FakeResampler that also notes the capacity it is given and can be told to fail.
  class Recording final : public platform::Resampler {
   public:
    Recording(ResamplerLog& log, double inputRate, double outputRate) : log_(log), inner_(inputRate, outputRate) {}
    Status convert(std::span<const float> input, std::size_t capacity, std::vector<std::int16_t>& output) override {
      log_.capacities.push_back(capacity);
      if (log_.failWith) return *log_.failWith;
      return inner_.convert(input, capacity, output);
    }

   private:
    ResamplerLog& log_;
    FakeResampler inner_;
  };
};

TEST(Pcm16MonoConverterTest, AveragesTheChannelsBeforeResampling) {
  static const struct {
    const char* name;
    double rate;
    std::vector<float> levels;
    std::size_t frames;
    std::int16_t expectedSample;
    std::size_t expectedCount;
  } cases[] = {
      {"16 kHz mono passes through", 16000, {0.5f}, 1600, 16384, 1600},
      {"48 kHz stereo with one silent side", 48000, {0.2f, 0.0f}, 4800, 3277, 1600},
      {"opposite channels cancel", 48000, {0.5f, -0.5f}, 4800, 0, 1600},
      {"three channels", 32000, {0.3f, 0.3f, 0.3f}, 3200, 9830, 1600},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    Pcm16MonoConverter converter(FakeResampler::factory(), 16);
    const auto audio = TestAudio::constant(testCase.rate, testCase.frames, testCase.levels);
    const auto result = converter.convert(audio.buffer());
    ASSERT_TRUE(result.hasValue()) << result.error();
    EXPECT_EQ(result.value(), std::vector<std::int16_t>(testCase.expectedCount, testCase.expectedSample));
  }
}

TEST(Pcm16MonoConverterTest, MakesANewResamplerOnlyWhenTheFormatChanges) {
  ResamplerLog log;
  Pcm16MonoConverter converter(log.factory(), 256);
  const auto stereo48k = TestAudio::constant(48000, 480, {0.1f, 0.1f});
  const auto mono48k = TestAudio::constant(48000, 480, {0.1f});
  const auto stereo44k = TestAudio::constant(44100, 441, {0.1f, 0.1f});

  EXPECT_FALSE(converter.convert(stereo48k.buffer()).valueOr({}).empty());
  EXPECT_FALSE(converter.convert(stereo48k.buffer()).valueOr({}).empty());
  EXPECT_EQ(log.rates.size(), 1U);
  EXPECT_FALSE(converter.convert(mono48k.buffer()).valueOr({}).empty());
  EXPECT_EQ(log.rates.size(), 2U) << "a new channel count needs a new resampler";
  EXPECT_FALSE(converter.convert(stereo44k.buffer()).valueOr({}).empty());
  ASSERT_EQ(log.rates.size(), 3U) << "a new rate needs a new resampler";
  EXPECT_EQ(log.rates.back(), std::make_pair(44100.0, 16000.0));

  converter.reset();
  EXPECT_FALSE(converter.convert(stereo44k.buffer()).valueOr({}).empty());
  EXPECT_EQ(log.rates.size(), 4U) << "reset forgets the resampler";
}

TEST(Pcm16MonoConverterTest, OutputRoomIsTheBuffersLengthAt16kHzPlusTheSpare) {
  ResamplerLog log;
  Pcm16MonoConverter converter(log.factory(), 256);
  static_cast<void>(converter.convert(TestAudio::constant(48000, 4800, {0.1f}).buffer()));
  static_cast<void>(converter.convert(TestAudio::constant(44100, 1000, {0.1f}).buffer()));
  EXPECT_EQ(log.capacities, (std::vector<std::size_t>{1600 + 256, 362 + 256}));
}

TEST(Pcm16MonoConverterTest, GivesNothingWhenNoResamplerCanBeMadeAndTriesAgainNextTime) {
  int attempts = 0;
  Pcm16MonoConverter converter(
      [&attempts](double, double) -> std::unique_ptr<platform::Resampler> {
        ++attempts;
        return nullptr;
      },
      16);
  const auto audio = TestAudio::mono16k(100, 0.5f);
  for (int round = 0; round < 2; ++round) {
    const auto result = converter.convert(audio.buffer());
    ASSERT_TRUE(result.hasValue()) << result.error();
    EXPECT_TRUE(result.value().empty());
  }
  EXPECT_EQ(attempts, 2);
}

TEST(Pcm16MonoConverterTest, PassesTheResamplersErrorOn) {
  ResamplerLog log;
  log.failWith = Error("resampler broke");
  Pcm16MonoConverter converter(log.factory(), 16);
  const auto result = converter.convert(TestAudio::mono16k(100, 0.5f).buffer());
  ASSERT_TRUE(result.failed());
  EXPECT_EQ(result.error(), Error("resampler broke"));
}

TEST(Pcm16MonoConverterTest, EmptyOrRatelessBuffersGiveNothing) {
  Pcm16MonoConverter converter(FakeResampler::factory(), 16);
  const Expected<std::vector<std::int16_t>> nothing = std::vector<std::int16_t>{};
  EXPECT_EQ(converter.convert(TestAudio::constant(16000, 0, {0.5f}).buffer()), nothing);
  EXPECT_EQ(converter.convert(TestAudio::constant(0, 100, {0.5f}).buffer()), nothing);
  EXPECT_EQ(converter.convert(platform::AudioBuffer{}), nothing);
}

}  // namespace
}  // namespace quillet::capture
