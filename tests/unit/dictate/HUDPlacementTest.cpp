#include "quillet-dictate/hud/HUDPlacement.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillet::dictate {
namespace {

using platform::Screen;
using platform::ScreenRect;

// A 1440 × 900 primary screen with a 25-point bar at the top, and a 1920 × 1080 screen to its right.
const std::vector<Screen> kTwoScreens = {
    {.frame = {0, 0, 1440, 900}, .visibleFrame = {0, 0, 1440, 875}},
    {.frame = {1440, 0, 1920, 1080}, .visibleFrame = {1440, 40, 1920, 1040}},
};

TEST(HUDPlacementTest, ThePanelGoesBelowItsAnchorOrAboveItAndStaysOnTheAnchorsScreen) {
  const struct {
    const char* description;
    std::optional<ScreenRect> anchor;
    platform::ScreenPoint expected;
  } cases[] = {
      {"below a field high on the screen, centred on it", ScreenRect{600, 700, 200, 30}, {410, 182}},
      {"above a field too low to have room below", ScreenRect{600, 300, 200, 30}, {410, 338}},
      {"kept 8 points from the left", ScreenRect{0, 700, 100, 30}, {8, 182}},
      {"kept 8 points from the right", ScreenRect{1400, 700, 40, 30}, {852, 182}},
      {"on the second screen, inside its usable part", ScreenRect{3300, 900, 50, 20}, {2772, 382}},
      {"an anchor off every screen is kept inside the primary screen sideways", ScreenRect{-500, -500, 10, 10}, {8, -482}},
      {"without an anchor: centred, the top 160 points below the usable top", std::nullopt, {430, 205}},
  };
  for (const auto& testCase : cases) {
    const auto origin = HUDPlacement::panelOrigin(kTwoScreens, testCase.anchor);
    ASSERT_TRUE(origin.has_value()) << testCase.description;
    EXPECT_DOUBLE_EQ(origin->x, testCase.expected.x) << testCase.description;
    EXPECT_DOUBLE_EQ(origin->y, testCase.expected.y) << testCase.description;
  }
  EXPECT_EQ(HUDPlacement::panelOrigin({}, ScreenRect{0, 0, 10, 10}), std::nullopt) << "no screen, no move";
}

TEST(HUDPlacementTest, AShortScreenKeepsTheUnanchoredPanelsBottomOnIt) {
  const std::vector<Screen> small = {{.frame = {0, 0, 800, 600}, .visibleFrame = {0, 0, 800, 600}}};
  EXPECT_EQ(HUDPlacement::panelOrigin(small, std::nullopt), (platform::ScreenPoint{110, 8}));
}

TEST(HUDPlacementTest, ThePromptSitsJustAboveTheMouseInsideItsScreen) {
  const struct {
    const char* description;
    double mouseX;
    double mouseY;
    platform::ScreenPoint expected;
  } cases[] = {
      {"in the middle", 700, 400, {540, 424}},
      {"near the right edge", 1430, 400, {1112, 424}},
      {"near the top, under the bar", 700, 870, {540, 815}},
      {"near the bottom left", 5, 2, {8, 26}},
      {"on the second screen's bottom, above its dock", 2000, 1, {1840, 48}},
      {"a mouse off every screen is kept on the primary one", -100, 2000, {8, 815}},
  };
  for (const auto& testCase : cases) {
    const auto origin = HUDPlacement::promptOrigin(kTwoScreens, {testCase.mouseX, testCase.mouseY});
    ASSERT_TRUE(origin.has_value()) << testCase.description;
    EXPECT_EQ(*origin, testCase.expected) << testCase.description;
  }
  EXPECT_EQ(HUDPlacement::promptOrigin({}, {10, 10}), std::nullopt);
}

}  // namespace
}  // namespace quillet::dictate
