// The pill's behaviour on virtual time: pulse, pause mirror and texts, placement and what it remembers.
#include "quillet-capture/pill/CapturePillPanel.h"

#include <gtest/gtest.h>

#include "platform/fake/FakeScreens.h"
#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::capture {
namespace {

using platform::Screen;
using platform::ScreenRect;

// A 1440 × 900 main screen whose usable area starts above a 70-point dock and ends below a 25-point bar.
const Screen kMain{{0, 0, 1440, 900}, {0, 70, 1440, 805}};
// A second screen to the right.
const Screen kRight{{1440, 0, 1920, 1080}, {1440, 0, 1920, 1080}};
const PillOrigin kDefault{720 - 221, 70 + 24};

class RecordingWindow final : public PillWindow {
 public:
  [[nodiscard]] PillOrigin origin() const override { return at; }
  void setOrigin(PillOrigin origin) override { at = origin; }
  void orderFront() override {
    visible = true;
    ++frontings;
  }
  void orderOut() override { visible = false; }
  [[nodiscard]] bool isVisible() const override { return visible; }

  PillOrigin at{5000, 5000};
  bool visible = false;
  int frontings = 0;
};

struct PillFixture {
  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeScreens screens;
  platform::fake::MemoryDefaultsStore defaults;
  std::shared_ptr<CaptureControl> control = CaptureControl::make(loop);
  RecordingWindow window;
  CapturePillPanel panel{{loop, screens, defaults, *control}, window};

  PillFixture() { screens.attached = {kMain, kRight}; }

  std::optional<std::string> remembered() const { return defaults.stringValue(PillPlacement::kDefaultsKey); }
};

TEST(CapturePillTest, PulseGoesRoundEvery48TicksOfAThirtiethAndNeverDoublesItsRate) {
  PillFixture fixture;
  auto& pulse = fixture.panel.pulse();
  int redraws = 0;
  pulse.onPhaseChanged = [&] { ++redraws; };
  fixture.panel.show();
  fixture.panel.show();
  fixture.loop.advance(12.0 / 30);
  EXPECT_EQ(redraws, 12) << "showing twice must keep one timer";
  EXPECT_NEAR(pulse.phase(), 0.25, 1e-9);
  fixture.loop.advance(36.0 / 30);
  EXPECT_NEAR(pulse.phase(), 0.0, 1e-9) << "a whole cycle is 1.6 s";

  fixture.loop.advance(6.0 / 30);
  fixture.panel.hide();
  EXPECT_FALSE(pulse.isRunning());
  fixture.loop.advance(5);
  EXPECT_EQ(redraws, 54);
  // The next show continues from where the pulse stopped.
  fixture.panel.show();
  fixture.loop.advance(1.0 / 30);
  EXPECT_NEAR(pulse.phase(), 7.0 / 48, 1e-9);
}

TEST(CapturePillTest, PauseMirrorChoosesTheTextsAndAsksOnlyUntilTheFirstResume) {
  PillFixture fixture;
  auto& pause = fixture.panel.pauseState();
  const auto runLoop = [&] { fixture.loop.runPending(); };

  fixture.control->set(true);
  runLoop();
  EXPECT_EQ(pause.content(), (PillPauseState::Content{"Meeting detected", true, "Start now", "", "Start taking notes",
                                                      "Ignore", "Don't take notes for this call"}));
  fixture.panel.primaryPressed();
  runLoop();
  EXPECT_EQ(pause.content(), (PillPauseState::Content{"Transcribing", false, "Pause", "pause.fill",
                                                      "Pause taking notes", "Stop", "Stop and save the notes"}));
  fixture.panel.primaryPressed();
  runLoop();
  EXPECT_EQ(pause.content(), (PillPauseState::Content{"Paused", true, "Resume", "", "Resume taking notes", "Stop",
                                                      "Stop and save the notes"}));
  // A later capture started paused in the same process is no longer an offer.
  fixture.control->set(false);
  fixture.control->set(true);
  runLoop();
  EXPECT_FALSE(pause.isAsk());
  EXPECT_EQ(pause.content().title, "Paused");
}

TEST(CapturePillTest, SecondaryButtonRunsTheStopActionInEveryState) {
  PillFixture fixture;
  int stops = 0;
  fixture.panel.onStop = [&] { ++stops; };
  fixture.control->set(true);
  fixture.loop.runPending();
  fixture.panel.secondaryPressed();
  fixture.panel.primaryPressed();
  fixture.loop.runPending();
  fixture.panel.secondaryPressed();
  EXPECT_EQ(stops, 2);
}

TEST(CapturePillTest, ShowPlacesThePillFromWhatWasRememberedOrCentresIt) {
  static const struct {
    const char* situation;
    std::optional<std::string> remembered;
    PillOrigin expected;
  } cases[] = {
      {"nothing remembered", std::nullopt, kDefault},
      {"remembered on the main screen", "{300, 400}", {300, 400}},
      {"remembered on the second screen", "{2000.5, 10}", {2000.5, 10}},
      {"only a sliver on screen", "{-441, 500}", {-441, 500}},
      {"entirely off every screen", "{-500, 500}", kDefault},
      {"in the corner", "{4, 74}", kDefault},
      {"just out of the corner", "{4.5, 74}", {4.5, 74}},
      {"unreadable", "{300; 400}", kDefault},
      {"trailing text", "{300, 400} x", kDefault},
      {"not a number", "{nan, 400}", kDefault},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.situation);
    PillFixture fixture;
    if (testCase.remembered) {
      ASSERT_EQ(fixture.defaults.set(PillPlacement::kDefaultsKey, *testCase.remembered), succeeded());
    }
    fixture.panel.show();
    EXPECT_EQ(fixture.window.at, testCase.expected);
    EXPECT_TRUE(fixture.window.visible);
  }
}

TEST(CapturePillTest, HideRemembersWhereThePillWasUnlessInTheCornerOrWithoutAScreen) {
  PillFixture fixture;
  fixture.panel.show();
  fixture.window.at = {812.25, 300};
  fixture.panel.hide();
  EXPECT_FALSE(fixture.window.visible);
  EXPECT_EQ(fixture.remembered(), "{812.25, 300}");

  // The next capture, in this process or another, shows it there.
  PillFixture later;
  ASSERT_EQ(later.defaults.set(PillPlacement::kDefaultsKey, *fixture.remembered()), succeeded());
  later.panel.show();
  EXPECT_EQ(later.window.at, (PillOrigin{812.25, 300}));

  fixture.panel.show();
  fixture.window.at = {2, 72};
  fixture.panel.hide();
  EXPECT_EQ(fixture.remembered(), "{812.25, 300}") << "a pill left in the corner is not remembered";

  fixture.screens.attached.clear();
  fixture.panel.show();
  EXPECT_EQ(fixture.window.at, (PillOrigin{2, 72})) << "without a screen the pill stays where it is";
  EXPECT_TRUE(fixture.window.visible);
  fixture.window.at = {100, 100};
  fixture.panel.hide();
  EXPECT_EQ(fixture.remembered(), "{812.25, 300}");
  EXPECT_FALSE(fixture.window.visible);
}

TEST(CapturePillTest, PointTextReadsBackExactly) {
  for (const PillOrigin origin : {PillOrigin{0, 0}, PillOrigin{-12.5, 1e6}, PillOrigin{0.1, 1.0 / 3}}) {
    const auto text = PillPlacement::pointText(origin);
    EXPECT_EQ(PillPlacement::parsePoint(text), origin) << text;
  }
  EXPECT_EQ(PillPlacement::parsePoint("  {1,2}"), (PillOrigin{1, 2}));
}

}  // namespace
}  // namespace quillet::capture
