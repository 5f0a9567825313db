// The recording capsule on virtual time with fake screens: where the card goes for a field, and when the panel shows
// and hides as the session's flags change.
#include "quillet-dictate/capsule/RecordingPanel.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "platform/fake/FakeFloatingPanel.h"
#include "platform/fake/FakeMouseLocation.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::dictate {
namespace {

using platform::ScreenPoint;
using platform::ScreenRect;

// Two screens side by side; the primary one's top 30 points are a panel bar.
const std::vector<platform::Screen> kScreens = {
    {.frame = {0, 0, 1920, 1080}, .visibleFrame = {0, 0, 1920, 1050}},
    {.frame = {1920, 0, 1280, 1024}, .visibleFrame = {1920, 0, 1280, 1024}},
};

class RecordingPanelTest : public ::testing::Test {
 protected:
  RecordingPanelTest() {
    screens.attached = kScreens;
    capsule.anchorProvider = [this] { return anchor; };
  }

  void setFlags(bool recording, bool working) {
    capsule.isRecording = recording;
    capsule.isWorking = working;
    capsule.reconcile();
  }

  // The card's bottom-left corner, from the panel's origin.
  [[nodiscard]] std::optional<ScreenPoint> card() const {
    if (!panel.origin) return std::nullopt;
    return ScreenPoint{panel.origin->x + RecordingPanel::kCardMargin, panel.origin->y + RecordingPanel::kCardMargin};
  }

  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeFloatingPanel panel;
  platform::fake::FakeScreens screens;
  platform::fake::FakeMouseLocation mouse;
  RecordingPanel capsule{panel, screens, mouse, loop};
  std::optional<ScreenRect> anchor;
};

TEST_F(RecordingPanelTest, TheCardStaysNearTheFieldInsideItsScreen) {
  struct Case {
    const char* name;
    std::optional<ScreenRect> field;
    std::optional<ScreenPoint> mouse;
    ScreenPoint expected;
  };
  const Case cases[] = {
      {"a field in the middle: above it", ScreenRect{800, 500, 300, 30}, std::nullopt, {750, 542}},
      {"a field near the top: 12 points below it", ScreenRect{800, 980, 300, 30}, std::nullopt, {750, 728}},
      {"a field as tall as the screen: at the top", ScreenRect{800, 100, 300, 900}, std::nullopt, {750, 798}},
      {"a field at the left edge: kept 8 points in", ScreenRect{0, 500, 100, 30}, std::nullopt, {8, 542}},
      {"a field on the second screen", ScreenRect{2500, 500, 200, 30}, std::nullopt, {2400, 542}},
      {"no field: top centre of the screen under the mouse", std::nullopt, ScreenPoint{2000, 100}, {2360, 694}},
      {"no field and no pointer: the primary screen", std::nullopt, std::nullopt, {760, 720}},
      {"a field off every screen: the screen under the mouse",
       ScreenRect{-5000, -5000, 100, 30},
       ScreenPoint{2000, 100},
       {1928, 8}},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    anchor = testCase.field;
    mouse.location = testCase.mouse;
    capsule.position();
    EXPECT_EQ(card(), testCase.expected);
  }

  screens.attached.clear();
  panel.origin.reset();
  capsule.position();
  EXPECT_EQ(panel.origin, std::nullopt) << "without a screen the panel is not moved";
}

TEST_F(RecordingPanelTest, ThePanelShowsWhileRecordingOrWorkingAndGoesAFadeAfter) {
  anchor = ScreenRect{800, 500, 300, 30};
  setFlags(true, false);
  EXPECT_EQ(capsule.state.mode.get(), RecordingPanelMode::recording);
  EXPECT_TRUE(panel.visible);
  EXPECT_FALSE(capsule.state.isVisible.get()) << "the view animates in once the panel is on screen";
  loop.advance(RecordingPanel::kAppearDelaySeconds);
  EXPECT_TRUE(capsule.state.isVisible.get());

  setFlags(false, true);
  EXPECT_EQ(capsule.state.mode.get(), RecordingPanelMode::working);

  setFlags(false, false);
  EXPECT_EQ(capsule.state.mode.get(), RecordingPanelMode::hidden);
  EXPECT_FALSE(capsule.state.isVisible.get()) << "the fade-out starts at once";
  loop.advance(RecordingPanel::kHideDelaySeconds - 0.01);
  EXPECT_TRUE(panel.visible);
  loop.advance(0.01);
  EXPECT_FALSE(panel.visible);
  EXPECT_EQ(panel.orderOutCount, 1);
}

TEST_F(RecordingPanelTest, ASessionStartingDuringTheFadeKeepsThePanelAndFollowsTheNewField) {
  anchor = ScreenRect{800, 500, 300, 30};
  setFlags(true, false);
  setFlags(false, false);
  loop.advance(0.3);
  anchor = ScreenRect{200, 300, 100, 30};
  setFlags(true, false);
  loop.advance(2);
  EXPECT_EQ(panel.orderOutCount, 0) << "never ordered out between back-to-back sessions";
  EXPECT_TRUE(capsule.state.isVisible.get());
  EXPECT_EQ(card(), (ScreenPoint{50, 342})) << "repositioned for the new field";

  // Hidden before the view had appeared: the late appearance does not show the card again.
  setFlags(false, false);
  loop.advance(1);
  setFlags(true, false);
  setFlags(false, false);
  loop.advance(1);
  EXPECT_FALSE(capsule.state.isVisible.get());
  EXPECT_FALSE(panel.visible);
}

TEST_F(RecordingPanelTest, TheButtonsCallTheirActionsAndMissingOnesDoNothing) {
  int finished = 0;
  int cancelled = 0;
  capsule.finish();
  capsule.cancel();
  capsule.onFinish = [&] { ++finished; };
  capsule.onCancel = [&] { ++cancelled; };
  capsule.finish();
  capsule.cancel();
  capsule.cancel();
  EXPECT_EQ(finished, 1);
  EXPECT_EQ(cancelled, 2);
}

}  // namespace
}  // namespace quillet::dictate
