#include "quillet-capture/sources/ActivityGate.h"

#include <gtest/gtest.h>

#include <cmath>

#include "TestAudio.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::capture {
namespace {

using testing::TestAudio;

class ActivityGateTest : public ::testing::Test {
 protected:
  // An activity last heard 10 s ago, so that a mark shows as an idle time of zero.
  std::shared_ptr<AudioActivity> staleActivity() {
    auto activity = std::make_shared<AudioActivity>(loop);
    loop.advance(10);
    return activity;
  }

  platform::fake::VirtualMainLoop loop;
  std::shared_ptr<CaptureControl> control = CaptureControl::make(loop);
};

TEST_F(ActivityGateTest, ABufferCountsAsHeardFromItsFloorUpAndGoesOnWhenNotPaused) {
  static const struct {
    const char* name;
    float floor;
    std::vector<float> channelLevels;
    bool heard;
  } cases[] = {
      {"microphone just below its floor", 0.01F, {0.0099F}, false},
      {"microphone at its floor", 0.01F, {0.01F}, true},
      {"system audio at its floor", 0.004F, {0.004F, 0.004F}, true},
      {"system audio just below its floor", 0.004F, {0.0039F, 0.0039F}, false},
      {"only the first channel is measured", 0.004F, {0.0F, 0.5F}, false},
      {"a loud first channel is enough", 0.004F, {-0.5F, 0.0F}, true},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    const ActivityGate gate(*control, testCase.floor);
    auto activity = staleActivity();
    const auto audio = TestAudio::constant(48000, 480, testCase.channelLevels);
    EXPECT_TRUE(gate.admit(audio.buffer(), {activity.get()}));
    EXPECT_EQ(activity->idleSeconds(), testCase.heard ? 0.0 : 10.0);
  }
}

TEST_F(ActivityGateTest, WhilePausedEveryBufferCountsAsHeardAndNoneGoesOn) {
  control->set(true);
  const ActivityGate gate(*control, 0.01F);
  auto both = staleActivity();
  auto others = staleActivity();
  const auto silence = TestAudio::constant(48000, 480, {0.0F});
  EXPECT_FALSE(gate.admit(silence.buffer(), {both.get(), others.get()}));
  EXPECT_EQ(both->idleSeconds(), 0.0);
  EXPECT_EQ(others->idleSeconds(), 0.0);
}

TEST_F(ActivityGateTest, MarksEveryActivityItIsGivenAndSkipsMissingOnes) {
  const ActivityGate gate(*control, 0.004F);
  auto both = staleActivity();
  auto others = staleActivity();
  const auto loud = TestAudio::constant(48000, 480, {0.2F});
  EXPECT_TRUE(gate.admit(loud.buffer(), {nullptr, both.get(), others.get()}));
  EXPECT_EQ(both->idleSeconds(), 0.0);
  EXPECT_EQ(others->idleSeconds(), 0.0);
}

TEST_F(ActivityGateTest, ABufferWithoutSamplesIsNotHeardButStillGoesOn) {
  const ActivityGate gate(*control, 0.004F);
  auto activity = staleActivity();
  const platform::AudioBuffer empty;
  EXPECT_TRUE(gate.admit(empty, {activity.get()}));
  EXPECT_EQ(activity->idleSeconds(), 10.0);
}

TEST_F(ActivityGateTest, RmsIsTheRootOfTheMeanSquareOfTheFirstChannel) {
  const std::vector<float> first{0.3F, -0.4F, 0.3F, -0.4F};
  const std::vector<float> second{1.0F, 1.0F, 1.0F, 1.0F};
  const platform::AudioBuffer buffer{{first.data(), second.data()}, 4, {48000, 2}};
  EXPECT_NEAR(ActivityGate::firstChannelRms(buffer), std::sqrt((0.09 + 0.16) / 2), 1e-6);
}

}  // namespace
}  // namespace quillet::capture
