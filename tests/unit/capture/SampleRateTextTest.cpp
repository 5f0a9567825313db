#include <gtest/gtest.h>

#include "quillet-capture/sources/SampleRateText.h"

namespace quillet::capture {
namespace {

TEST(SampleRateTextTest, AlwaysShowsAFractionalPart) {
  static const struct {
    double rate;
    const char* expected;
  } cases[] = {
      {48000, "48000.0"}, {44100, "44100.0"}, {16000, "16000.0"}, {22050.5, "22050.5"}, {0, "0.0"},
  };
  for (const auto& testCase : cases) EXPECT_EQ(sampleRateText(testCase.rate), testCase.expected);
}

}  // namespace
}  // namespace quillet::capture
