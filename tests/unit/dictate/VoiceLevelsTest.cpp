#include "quillet-dictate/waveform/VoiceLevels.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"

namespace quillet::dictate {
namespace {

using std::chrono::system_clock;

class VoiceLevelsTest : public ::testing::Test {
 protected:
  platform::fake::VirtualMainLoop clock;
  VoiceLevels levels{clock};
  const std::vector<float> silence = std::vector<float>(32, 0.0f);

  std::vector<float> rampBands() {
    std::vector<float> bands(32);
    for (std::size_t band = 0; band < bands.size(); ++band) bands[band] = static_cast<float>(band) / 31;
    return bands;
  }

  void expectAtRestInTheDistantPast() {
    EXPECT_EQ(levels.bands.get(), silence);
    EXPECT_EQ(levels.rms.get(), 0.0f);
    EXPECT_EQ(levels.lastUpdate.get(), VoiceLevels::kDistantPast);
  }
};

TEST_F(VoiceLevelsTest, StartsSilentInTheDistantPast) { expectAtRestInTheDistantPast(); }

TEST_F(VoiceLevelsTest, TimeSinceTheDistantPastIsDecadesForEveryWallTimeWithoutOverflow) {
  constexpr auto kFiftyYears = std::chrono::hours(24 * 365 * 50);
  for (const auto wallTime : {clock.wallNow(), system_clock::time_point::max()}) {
    EXPECT_GT(wallTime - VoiceLevels::kDistantPast, kFiftyYears);
  }
}

TEST_F(VoiceLevelsTest, UpdateStoresTheLevelsStampedWithTheClocksWallTime) {
  clock.advance(2.5);
  levels.update(0.3f, rampBands());

  EXPECT_EQ(levels.rms.get(), 0.3f);
  EXPECT_EQ(levels.bands.get(), rampBands());
  EXPECT_EQ(levels.lastUpdate.get(), clock.wallNow());
  EXPECT_EQ(levels.lastUpdate.get(),
            platform::fake::VirtualMainLoop::defaultWallStart() + std::chrono::milliseconds(2500));
}

TEST_F(VoiceLevelsTest, ObserversOfTheTimestampSeeTheWholeUpdate) {
  std::vector<std::string> heard;
  auto bandsSubscription = levels.bands.observe([&](const auto&) { heard.push_back("bands"); });
  auto rmsSubscription = levels.rms.observe([&](float) { heard.push_back("rms"); });
  auto stampSubscription = levels.lastUpdate.observe([&](const auto&) {
    heard.push_back("lastUpdate");
    EXPECT_EQ(levels.rms.get(), 0.25f);
    EXPECT_EQ(levels.bands.get(), rampBands());
  });

  levels.update(0.25f, rampBands());

  EXPECT_EQ(heard, (std::vector<std::string>{"bands", "rms", "lastUpdate"}));
}

TEST_F(VoiceLevelsTest, ResetReturnsToSilenceInTheDistantPast) {
  levels.update(0.4f, rampBands());
  int assignments = 0;
  auto subscription = levels.lastUpdate.observe([&](const auto&) { ++assignments; });

  levels.reset();

  expectAtRestInTheDistantPast();
  EXPECT_EQ(assignments, 1);
}

}  // namespace
}  // namespace quillet::dictate
