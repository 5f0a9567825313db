#include "quillet-dictate/accessibility/FieldGeometry.h"

#include <gtest/gtest.h>

#include <limits>

#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeAppIdentity.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/FakeTextLayout.h"
#include "platform/fake/FakeTextMarkerBounds.h"
#include "platform/fake/VirtualMainLoop.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

using platform::AccessibilityElement;
using platform::AXRect;
using platform::AXTextRange;
using platform::ScreenRect;
using platform::TextFont;
using platform::fake::FakeElementSpec;

constexpr int kNotesPid = 100;
constexpr int kBrowserPid = 200;
constexpr int kChatPid = 300;

class FieldGeometryTest : public ::testing::Test {
 protected:
  FieldGeometryTest() {
    identity.bundleIds = {{kNotesPid, "com.example.notes"}, {kBrowserPid, "com.google.Chrome"},
                          {kChatPid, "com.tinyspeck.slackmacgap"}};
    screens.attached = {{.frame = {0, 0, 1000, 800}, .visibleFrame = {0, 0, 1000, 780}}};
    notes = tree.addApplication(kNotesPid);
    browser = tree.addApplication(kBrowserPid);
    chat = tree.addApplication(kChatPid);
  }

  AccessibilityElement add(const AccessibilityElement& parent, std::string role, AXRect frame,
                           std::optional<std::string> value = std::nullopt) {
    // A placeholder that is not a prompt: fields without one count as chat-style and get no estimate.
    return tree.addElement(parent, FakeElementSpec{.role = std::move(role), .value = std::move(value),
                                                   .placeholder = "Subject", .frame = frame});
  }

  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeAccessibility tree{loop};
  platform::fake::FakeAppIdentity identity;
  platform::fake::FakeScreens screens;
  platform::fake::FakeTextLayout layout;
  platform::fake::FakeTextMarkerBounds markers;
  test::TemporaryDirectory folder;
  test::CapturedLog captured;
  VxLog log{folder.path() / "geometry.log", loop, captured.mirror()};
  FieldGeometry geometry{{tree, identity, screens, layout, &markers, log}};
  AccessibilityElement notes, browser, chat;
};

TEST_F(FieldGeometryTest, FlipToCocoaUsesThePrimaryScreensHeightOr900WithoutAScreen) {
  const AXRect rect{{10, 100}, {50, 20}};
  EXPECT_EQ(geometry.flipToCocoa(rect), (ScreenRect{10, 680, 50, 20}));
  screens.attached.push_back({.frame = {1000, 0, 1920, 1200}, .visibleFrame = {1000, 0, 1920, 1200}});
  EXPECT_EQ(geometry.flipToCocoa(rect), (ScreenRect{10, 680, 50, 20})) << "the first screen is the primary one";
  screens.attached.clear();
  EXPECT_EQ(geometry.flipToCocoa(rect), (ScreenRect{10, 780, 50, 20}));
  const auto flipped = geometry.flipToCocoa(rect);
  EXPECT_EQ(geometry.flipToCocoa(AXRect{{flipped.x, flipped.y}, {flipped.width, flipped.height}}),
            (ScreenRect{10, 100, 50, 20}))
      << "the same formula converts back";
}

TEST_F(FieldGeometryTest, FrameOfCountsMissingPositionAndSizeAsZero) {
  const auto field = add(notes, "AXTextField", AXRect{{40, 60}, {200, 30}});
  EXPECT_EQ(geometry.frameOf(field), (ScreenRect{40, 710, 200, 30}));
  const auto bare = tree.addElement(notes, {.role = "AXGroup"});
  EXPECT_EQ(geometry.frameOf(bare), (ScreenRect{0, 800, 0, 0}));
  EXPECT_EQ(geometry.axFrameOf(bare), (AXRect{}));
}

TEST_F(FieldGeometryTest, ABrowserTextFieldIsPromotedToTheComposerAroundIt) {
  const auto page = add(browser, "AXWebArea", AXRect{{0, 0}, {1000, 800}});
  const auto composer = add(page, "AXGroup", AXRect{{99, 180}, {310, 60}});
  const auto field = add(composer, "AXTextField", AXRect{{100, 200}, {300, 20}});

  EXPECT_EQ(geometry.preferredPillFrame(field), (ScreenRect{99, 560, 310, 60}));
  EXPECT_TRUE(captured.contains("📐 browser pill frame promoted 300x20@100,580 -> 310x60@99,560 role=AXTextField"));
}

TEST_F(FieldGeometryTest, PromotionRefusesImplausibleContainers) {
  const AXRect field{{100, 200}, {300, 20}};
  const struct {
    const char* what;
    AXRect container;
  } refused[] = {
      {"1000 wide, beyond max(720, 900)", {{99, 180}, {1000, 60}}},
      {"no wider than the field", {{100, 180}, {300, 60}}},
      {"lower than 24", {{99, 198}, {310, 23}}},
      {"taller than max(44, 88)", {{99, 150}, {310, 89}}},
      {"starting 3 points right of the field", {{103, 180}, {310, 60}}},
      {"ending 3 points before the field's right edge", {{90, 180}, {307, 60}}},
      {"far above the field", {{99, 100}, {310, 30}}},
  };
  for (const auto& testCase : refused) {
    SCOPED_TRACE(testCase.what);
    const auto composer = add(browser, "AXGroup", testCase.container);
    const auto element = add(composer, "AXTextField", field);
    EXPECT_EQ(geometry.preferredPillFrame(element), (ScreenRect{100, 580, 300, 20}));
  }
  EXPECT_TRUE(captured.messages().empty());
}

TEST_F(FieldGeometryTest, PromotionPassesOverPagesAndWindowsAndLooksAtFourAncestors) {
  const auto window = add(browser, "AXWindow", AXRect{{90, 170}, {320, 70}});
  const auto page = add(window, "AXWebArea", AXRect{{95, 175}, {315, 65}});
  const auto field = add(page, "AXTextField", AXRect{{100, 200}, {300, 20}});
  EXPECT_EQ(geometry.preferredPillFrame(field), (ScreenRect{100, 580, 300, 20}));

  // field → g1 → g2 → g3 → g4 (plausible but fifth) : nothing within four ancestors fits.
  const auto outer = add(browser, "AXGroup", AXRect{{99, 180}, {310, 60}});
  auto parent = outer;
  for (int level = 0; level < 4; ++level) parent = add(parent, "AXGroup", AXRect{{0, 0}, {5000, 5000}});
  const auto deep = add(parent, "AXTextField", AXRect{{100, 200}, {300, 20}});
  EXPECT_EQ(geometry.preferredPillFrame(deep), (ScreenRect{100, 580, 300, 20}));
}

TEST_F(FieldGeometryTest, OnlyBrowserTextEntriesArePromoted) {
  const auto composer = add(notes, "AXGroup", AXRect{{99, 180}, {310, 60}});
  const auto field = add(composer, "AXTextField", AXRect{{100, 200}, {300, 20}});
  EXPECT_EQ(geometry.preferredPillFrame(field), (ScreenRect{100, 580, 300, 20}));
  const auto browserComposer = add(browser, "AXGroup", AXRect{{99, 180}, {310, 60}});
  const auto button = add(browserComposer, "AXButton", AXRect{{100, 200}, {300, 20}});
  EXPECT_EQ(geometry.preferredPillFrame(button), (ScreenRect{100, 580, 300, 20}));
}

TEST_F(FieldGeometryTest, TextRectanglesAreValidatedAgainstTheField) {
  const AXRect field{{100, 100}, {400, 40}};  // mid (300, 120)
  const struct {
    const char* what;
    AXRect rect;
    bool expected;
  } cases[] = {
      {"height 0", {{110, 110}, {20, 0}}, false},
      {"width 0.5", {{110, 110}, {0.5, 20}}, false},
      {"2000 wide", {{-700, 110}, {2000, 20}}, false},
      {"1999 wide, 20 high, centred", {{300 - 999.5, 110}, {1999, 20}}, true},
      {"200 high", {{110, 20}, {20, 200}}, false},
      {"199 high", {{110, 20}, {20, 199}}, true},
      {"midpoint 19 left of the field", {{100 - 19 - 5, 110}, {10, 20}}, true},
      {"midpoint 21 left of the field", {{100 - 21 - 5, 110}, {10, 20}}, false},
      {"midpoint 19 below the field", {{110, 140 + 19 - 5}, {10, 10}}, true},
      {"midpoint 21 below the field", {{110, 140 + 21 - 5}, {10, 10}}, false},
      {"not a number", {{std::numeric_limits<double>::quiet_NaN(), 110}, {10, 20}}, false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    EXPECT_EQ(FieldGeometry::isValidTextRect(testCase.rect, field), testCase.expected);
  }
  EXPECT_FALSE(FieldGeometry::isValidTextRect({{110, 110}, {20, 20}}, AXRect{{100, 100}, {0, 40}}))
      << "a field without width holds nothing";
}

TEST_F(FieldGeometryTest, TheFieldsOwnRangeAnswerWinsWhenItIsPlausible) {
  const auto field = add(notes, "AXTextField", AXRect{{100, 100}, {400, 40}}, "hello world");
  tree.setBoundsForRange(field, {6, 5}, AXRect{{160, 110}, {40, 20}});
  EXPECT_EQ(geometry.boundsForRange({6, 5}, field), (ScreenRect{160, 670, 40, 20}));
  EXPECT_TRUE(captured.contains("🧪 raw cocoa rect=40x20@160,110 range={6,5} role=AXTextField"));
  EXPECT_EQ(markers.requests, 0);
  EXPECT_TRUE(layout.boxWidthsAsked.empty());
}

TEST_F(FieldGeometryTest, AZeroHeightRangeAnswerFallsThroughToTextMarkersThenToTheEstimate) {
  const auto field = add(notes, "AXTextField", AXRect{{100, 100}, {400, 40}}, "hello world");
  tree.setBoundsForRange(field, {6, 5}, AXRect{{160, 110}, {40, 0}});

  const auto bounds = geometry.boundsForRange({6, 5}, field);
  EXPECT_TRUE(captured.contains("🔻 AX bounds rejected (cocoa) raw=40x0@160,110 axFrame=400x40@100,100"));
  EXPECT_EQ(markers.requests, 1);
  ASSERT_TRUE(bounds);
  EXPECT_EQ(layout.boxWidthsAsked.size(), 1u);
  EXPECT_EQ(captured.messages().back().rfind("🧮 estimated rect=", 0), 0u);
}

TEST_F(FieldGeometryTest, TextMarkersIndexTheFieldThroughTheWebArea) {
  const auto page = add(browser, "AXWebArea", AXRect{{0, 100}, {1000, 600}});
  const auto group = add(page, "AXGroup", AXRect{{50, 150}, {600, 100}});
  const auto field = add(group, "AXTextArea", AXRect{{60, 160}, {580, 80}}, "hello world");
  markers.answers.push_back({page, {0, 5}, AXRect{{70, 170}, {35, 18}}});

  EXPECT_EQ(geometry.chromiumMarkerOwner(field), page);
  EXPECT_EQ(geometry.boundsForRange({0, 5}, field), (ScreenRect{70, 612, 35, 18}));
  EXPECT_TRUE(captured.contains("🧪 raw textMarker rect=35x18@70,170 range={0,5} ownerRole=AXWebArea"));
}

TEST_F(FieldGeometryTest, AMarkerRectangleInScreenCoordinatesIsAcceptedUnchanged) {
  const auto page = add(browser, "AXWebArea", AXRect{{0, 0}, {1000, 300}});
  const auto field = add(page, "AXTextArea", AXRect{{60, 100}, {580, 80}}, "hello world");
  // Answered in bottom-left coordinates: outside the page as top-left, inside it once flipped.
  markers.answers.push_back({page, {0, 5}, AXRect{{70, 600}, {35, 18}}});

  EXPECT_EQ(geometry.boundsForRange({0, 5}, field), (ScreenRect{70, 600, 35, 18}));
  EXPECT_TRUE(captured.contains("🧪 raw textMarker rect (asAX)=35x18@70,182 ownerFrame=1000x300@0,0"));
  EXPECT_TRUE(captured.contains("✅ textMarker accepted after Cocoa→AX reinterpretation"));
}

TEST_F(FieldGeometryTest, AMarkerRectangleOffThePageEitherWayIsRejected) {
  const auto page = add(browser, "AXWebArea", AXRect{{0, 0}, {1000, 300}});
  const auto field = add(page, "AXTextArea", AXRect{{60, 100}, {580, 80}}, "hello world");
  markers.answers.push_back({page, {0, 5}, AXRect{{70, 400}, {35, 18}}});

  const auto bounds = geometry.boundsForRange({0, 5}, field);
  EXPECT_TRUE(captured.contains(
      "🔻 AX bounds rejected (textMarker) raw=35x18@70,400 rawAsAX=35x18@70,382 ownerRole=AXWebArea ownerFrame=1000x300@0,0"));
  ASSERT_TRUE(bounds) << "the estimate still answers";
  EXPECT_EQ(layout.boxWidthsAsked.size(), 1u);
}

TEST_F(FieldGeometryTest, TheMarkerOwnerIsTheOutermostGroupOrTheFieldItselfWithoutAPage) {
  const auto outerGroup = add(notes, "AXGroup", AXRect{});
  const auto innerGroup = add(outerGroup, "AXGroup", AXRect{});
  const auto field = add(innerGroup, "AXTextField", AXRect{});
  EXPECT_EQ(geometry.chromiumMarkerOwner(field), outerGroup);
  const auto lone = add(notes, "AXTextField", AXRect{});
  EXPECT_EQ(geometry.chromiumMarkerOwner(lone), lone);

  // A page more than eight elements up is out of reach.
  const auto page = add(browser, "AXWebArea", AXRect{});
  auto parent = page;
  for (int level = 0; level < 8; ++level) parent = add(parent, "AXSplitGroup", AXRect{});
  const auto deep = add(parent, "AXTextField", AXRect{});
  EXPECT_EQ(geometry.chromiumMarkerOwner(deep), deep);
}

TEST_F(FieldGeometryTest, AChatStyleFieldGetsNoEstimatedRectangle) {
  const auto field = add(chat, "AXTextArea", AXRect{{100, 100}, {400, 60}}, "lunch at noon?");
  EXPECT_FALSE(geometry.boundsForRange({0, 5}, field));
  EXPECT_TRUE(layout.boxWidthsAsked.empty());
}

TEST_F(FieldGeometryTest, WithoutTextMarkersTheEstimateFollowsTheRangeAttribute) {
  FieldGeometry withoutMarkers{{tree, identity, screens, layout, nullptr, log}};
  const auto field = add(notes, "AXTextField", AXRect{{100, 100}, {300, 30}}, "hello world");
  ASSERT_TRUE(withoutMarkers.boundsForRange({6, 5}, field));
  EXPECT_EQ(markers.requests, 0);
}

TEST_F(FieldGeometryTest, TheEstimateLaysTheTextOutInsideTheInsets) {
  // A 30-point-high text field with a line height of 13: insets top 9, left 10, bottom 6, right 10.
  const auto field = add(notes, "AXTextField", AXRect{{100, 100}, {300, 30}}, "hello world");
  const auto bounds = geometry.boundsForRange({6, 5}, field);

  ASSERT_TRUE(bounds);
  // The fake layout puts "world" at x 48 (6 advances of 8), 40 wide, on the first 13-point line.
  const ScreenRect frame{100, 670, 300, 30};
  EXPECT_EQ(*bounds, (ScreenRect{frame.minX() + 10 + 48, frame.maxY() - 9 - 13, 40, 13}));
  EXPECT_EQ(layout.boxWidthsAsked, std::vector<double>{280});
  EXPECT_TRUE(captured.contains("🧮 estimated rect=40x13@158,678 range={6,5} role=AXTextField"));
}

TEST_F(FieldGeometryTest, AWrappedRangeIsTheUnionOfItsLines) {
  // 40 points of text box: five advances per line.
  const auto field = add(notes, "AXTextArea", AXRect{{100, 100}, {60, 100}}, "abcdefghij");
  const auto bounds = geometry.boundsForRange({3, 4}, field);
  ASSERT_TRUE(bounds);
  EXPECT_EQ(layout.boxWidthsAsked, std::vector<double>{40}) << "never narrower than 40";
  // "de" on the first line from x 24, "fg" on the second from x 0: together 40 wide and two lines high.
  EXPECT_EQ(*bounds, (ScreenRect{100 + 14 + 0, 700 - 12 - 26, 40, 26}));
}

TEST_F(FieldGeometryTest, TheEstimateRefusesRangesOutsideTheTextAndTinyFields) {
  const auto field = add(notes, "AXTextField", AXRect{{100, 100}, {300, 30}}, "hello");
  const auto narrow = add(notes, "AXTextField", AXRect{{100, 100}, {40, 30}}, "hello");
  const auto flat = add(notes, "AXTextField", AXRect{{100, 100}, {300, 18}}, "hello");
  const auto empty = add(notes, "AXTextField", AXRect{{100, 100}, {300, 30}}, "");
  const auto emoji = add(notes, "AXTextField", AXRect{{100, 100}, {300, 30}}, "a😀");
  const struct {
    const char* what;
    AccessibilityElement element;
    AXTextRange range;
    bool answers;
  } cases[] = {
      {"the whole text", field, {0, 5}, true},
      {"an empty range", field, {2, 0}, false},
      {"past the end", field, {3, 3}, false},
      {"a negative location", field, {-1, 2}, false},
      {"the not-found location", field, {std::numeric_limits<std::int64_t>::max(), 1}, false},
      {"a length that would wrap around", field, {2, std::numeric_limits<std::int64_t>::max()}, false},
      {"a field 40 points wide", narrow, {0, 5}, false},
      {"a field 18 points high", flat, {0, 5}, false},
      {"an empty field", empty, {0, 1}, false},
      {"a character outside the basic plane counts two units", emoji, {1, 2}, true},
      {"...so three units end past it", emoji, {1, 3}, false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    EXPECT_EQ(geometry.boundsForRange(testCase.range, testCase.element).has_value(), testCase.answers);
  }
}

TEST_F(FieldGeometryTest, TheFieldsFontIsUsedWhenItTellsOneElseTheInterfaceFontSizedByHeight) {
  const auto described = tree.addElement(notes, {.role = "AXTextField", .value = "hello", .placeholder = "Subject",
                                                  .frame = AXRect{{0, 0}, {300, 30}},
                                                  .fontFamily = "Cantarell", .fontSize = 11});
  ASSERT_TRUE(geometry.boundsForRange({0, 2}, described));
  EXPECT_EQ(layout.fontsAsked.back(), (TextFont{"Cantarell", 11, TextFont::SizeUnit::typographicPoints}));

  const struct {
    double height;
    double size;
  } cases[] = {{30, 14}, {40, 17}, {41.7, 18}, {100, 18}};  // clamp(round(height x 0.42), 14, 18)
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.height);
    const auto field = add(notes, "AXTextField", AXRect{{0, 0}, {300, testCase.height}}, "hello");
    ASSERT_TRUE(geometry.boundsForRange({0, 2}, field));
    EXPECT_EQ(layout.fontsAsked.back(), (TextFont{"", testCase.size, TextFont::SizeUnit::screenPoints}));
  }
}

TEST(EstimatedInsetsTest, FollowTheFieldKindAndHeight) {
  const platform::FontMetrics lineOf13{.ascender = 10, .descender = -2.5, .leading = 0.2};  // ceil(12.7) = 13
  const struct {
    const char* role;
    double height;
    EdgeInsets expected;
  } cases[] = {
      {"AXTextField", 30, {9, 10, 6, 10}},  // max(6, round(8.5))
      {"AXTextField", 20, {6, 10, 6, 10}},
      {"AXComboBox", 60, {24, 10, 6, 10}},
      {"AXTextArea", 53, {12, 14, 12, 14}},
      {"AXTextArea", 52, {20, 16, 8, 16}},  // max(8, round(19.5))
      {"AXTextArea", 20, {8, 16, 8, 16}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(std::string(testCase.role) + " " + std::to_string(testCase.height));
    EXPECT_EQ(EstimatedTextBounds::estimatedInsets(testCase.role, testCase.height, lineOf13), testCase.expected);
  }
}

}  // namespace
}  // namespace quillet::dictate
