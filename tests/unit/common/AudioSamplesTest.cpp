#include "common/audio/AudioSamples.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillet::audio {
namespace {

TEST(AudioSamplesTest, MixingDownAveragesTheChannels) {
  const struct {
    const char* description;
    std::vector<std::vector<float>> channels;
    std::vector<float> expected;
  } cases[] = {
      {"no channels", {}, {}},
      {"one channel stays as it is", {{0.1f, -0.7f}}, {0.1f, -0.7f}},
      {"two channels", {{0.5f, 1.0f, 0.0f}, {-0.1f, 0.0f, -1.0f}}, {0.2f, 0.5f, -0.5f}},
      {"three channels", {{0.3f}, {0.3f}, {-0.3f}}, {0.1f}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    const AudioSamples samples{48000, testCase.channels};
    const auto mono = samples.mixedToMono();
    ASSERT_EQ(mono.size(), testCase.expected.size());
    for (std::size_t frame = 0; frame < mono.size(); ++frame) EXPECT_NEAR(mono[frame], testCase.expected[frame], 1e-6f);
  }
}

}  // namespace
}  // namespace quillet::audio
