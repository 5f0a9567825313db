#include "quillet-dictate/accessibility/AutoPillRule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "quillet-dictate/accessibility/WritingSurface.h"

namespace quillet::dictate {
namespace {

using platform::ScreenRect;

const std::vector<platform::Screen> kOneScreen = {{.frame = {0, 0, 1440, 900}, .visibleFrame = {0, 0, 1440, 875}}};

PillFacts field(std::string role, std::string text = "Draft") {
  PillFacts facts;
  facts.role = std::move(role);
  facts.text = std::move(text);
  return facts;
}

PillFacts withPlaceholder(PillFacts facts, std::string placeholder) {
  facts.placeholder = std::move(placeholder);
  return facts;
}

PillFacts inBrowser(PillFacts facts) {
  facts.browser = true;
  return facts;
}

PillFacts chatStyle(PillFacts facts) {
  facts.simpleDecoration = true;
  return facts;
}

ScreenRect sized(double width, double height) { return ScreenRect{100, 400, width, height}; }

TEST(AutoPillRuleTest, FollowsTheSizeScreenApplicationAndBrowserRules) {
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  PillFacts search = inBrowser(field("AXTextField"));
  search.subrole = "AXSearchField";
  PillFacts titled = inBrowser(withPlaceholder(field("AXTextField"), "Name"));
  titled.title = "Task name";

  const struct {
    const char* what;
    PillFacts facts;
    ScreenRect frame;
    bool recentClick;
    bool expected;
  } cases[] = {
      // Size and screen.
      {"139 points wide, even after a click", field("AXTextField"), sized(139, 30), true, false},
      {"140 points wide after a click", field("AXTextField"), sized(140, 30), true, true},
      {"23 points high", field("AXTextArea"), sized(300, 23), true, false},
      {"a width that is not a number", field("AXTextArea"), sized(nan, 30), true, false},
      {"an infinite position", field("AXTextArea"), ScreenRect{std::numeric_limits<double>::infinity(), 400, 300, 30}, true, false},
      {"off every screen", field("AXTextArea"), ScreenRect{3000, 400, 300, 30}, true, false},
      {"just within the screen's margin", field("AXTextArea"), ScreenRect{-320, 400, 300, 30}, false, true},
      {"wider than 98% of the screen", field("AXTextArea"), sized(1412, 100), false, false},
      {"98% of the screen wide", field("AXTextArea"), sized(1411, 100), false, true},
      {"taller than 45% of the screen", field("AXTextArea"), sized(600, 394), false, false},
      // Ordinary applications.
      {"a 200-point text field without a click", field("AXTextField"), sized(200, 30), false, false},
      {"a 200-point text field right after a click", field("AXTextField"), sized(200, 30), true, true},
      {"a 259-point text field without a click", field("AXTextField"), sized(259, 30), false, false},
      {"a 260-point text field without a click", field("AXTextField"), sized(260, 30), false, true},
      {"a text area", field("AXTextArea"), sized(150, 60), false, true},
      {"a combo box", field("AXComboBox"), sized(150, 30), false, true},
      // Chat-style fields.
      {"chat text field 219 wide without a click", chatStyle(field("AXTextField", "")), sized(219, 30), false, false},
      {"chat text field 220 wide showing only its prompt", chatStyle(field("AXTextField", "")), sized(220, 30), false, true},
      {"chat text field 140 wide after a click", chatStyle(field("AXTextField", "")), sized(140, 30), true, true},
      {"chat text field holding written text", chatStyle(withPlaceholder(field("AXTextField", "see you at ten"), "Message #general")), sized(300, 30), false, false},
      {"chat text area holding written text", chatStyle(field("AXTextArea", "see you at ten")), sized(300, 80), false, true},
      {"chat text area taller than 260", chatStyle(field("AXTextArea")), sized(300, 261), false, false},
      // Browsers.
      {"browser text area without a click", inBrowser(field("AXTextArea")), sized(600, 80), false, false},
      {"browser text area 36 high after a click", inBrowser(withPlaceholder(field("AXTextArea"), "City")), sized(600, 36), true, true},
      {"browser text area 35 high after a click", inBrowser(withPlaceholder(field("AXTextArea"), "City")), sized(600, 35), true, false},
      // A field without a placeholder reads as showing only its prompt.
      {"browser text area 35 high without a placeholder", inBrowser(field("AXTextArea")), sized(600, 35), true, true},
      {"browser text area asking for a comment", inBrowser(withPlaceholder(field("AXTextArea", "hi"), "Add a comment")), sized(600, 30), true, true},
      {"browser search field", search, sized(600, 30), true, false},
      {"browser prompt \"Ask anything...\"", inBrowser(withPlaceholder(field("AXTextField"), "Ask anything...")), sized(280, 30), true, true},
      {"browser prompt 279 wide", inBrowser(withPlaceholder(field("AXTextField"), "Ask anything...")), sized(279, 30), true, false},
      {"browser flight search box", inBrowser(withPlaceholder(field("AXTextField"), "Search flights")), sized(400, 30), true, false},
      {"browser field titled \"Task name\"", titled, sized(400, 30), true, true},
      {"browser combo box for a reply", inBrowser(withPlaceholder(field("AXComboBox"), "Reply")), sized(400, 30), true, true},
      {"browser editable group", inBrowser(withPlaceholder(field("AXGroup"), "Write a post")), sized(400, 60), true, false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    EXPECT_EQ(shouldShowPillCore(testCase.facts, testCase.frame, kOneScreen, testCase.recentClick), testCase.expected);
  }
}

TEST(AutoPillRuleTest, NoScreenMeansNoPill) {
  EXPECT_FALSE(shouldShowPillCore(field("AXTextArea"), sized(300, 80), {}, true));
}

TEST(AutoPillRuleTest, TheScreenShowingTheFieldSetsTheSizeLimits) {
  const std::vector<platform::Screen> twoScreens = {
      {.frame = {0, 0, 1440, 900}, .visibleFrame = {0, 0, 1440, 875}},
      {.frame = {1440, 0, 800, 600}, .visibleFrame = {1440, 0, 800, 600}}};
  EXPECT_TRUE(shouldShowPillCore(field("AXTextArea"), ScreenRect{1500, 100, 780, 200}, twoScreens, false));
  EXPECT_FALSE(shouldShowPillCore(field("AXTextArea"), ScreenRect{1500, 100, 790, 200}, twoScreens, false))
      << "wider than 98% of the second screen";
}

TEST(WritingSurfaceTest, ReadsTheFieldsWordingLikeAPlaceToWrite) {
  const struct {
    FieldWording wording;
    bool expected;
  } cases[] = {
      {{}, false},
      {{.text = "  \n "}, false},
      {{.placeholder = "Reply"}, true},
      {{.text = "", .placeholder = "Write a Post\n"}, true},
      {{.title = "Task name"}, true},  // "ask" inside "task"
      {{.description = "Short bio"}, true},
      {{.help = "Search the site"}, false},
      {{.text = "Berlin", .placeholder = "City"}, false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(std::string(testCase.wording.text) + "|" + std::string(testCase.wording.placeholder) + "|" +
                 std::string(testCase.wording.title));
    EXPECT_EQ(browserLooksLikeWritingSurface(testCase.wording), testCase.expected);
  }
}

}  // namespace
}  // namespace quillet::dictate
