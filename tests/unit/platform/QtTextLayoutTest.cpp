#include "platform/linux/qt/QtTextLayout.h"

#include <QGuiApplication>
#include <gtest/gtest.h>


namespace quillet::platform::qt {
namespace {

// Qt's font engine needs the QGuiApplication that the test program's main owns.
class QtTextLayoutTest : public ::testing::Test {
 protected:
  QtTextLayout layout;
  const TextFont font{"", 14, TextFont::SizeUnit::screenPoints};
};

TEST_F(QtTextLayoutTest, MetricsHaveTheDescenderBelowTheBaseline) {
  const auto metrics = layout.metrics(font);
  EXPECT_GT(metrics.ascender, 0);
  EXPECT_LT(metrics.descender, 0);
  EXPECT_GE(metrics.leading, 0);
  EXPECT_GT(layout.metrics({"", 14, TextFont::SizeUnit::typographicPoints}).ascender, metrics.ascender * 0.99)
      << "a typographic point is never smaller than a screen point on a screen of 72 dpi or more";
}

TEST_F(QtTextLayoutTest, ARangeOnOneLineIsOneRectangleRightOfTheTextBefore) {
  const auto hello = layout.enclosingRects("hello world", font, 500, {0, 5});
  const auto world = layout.enclosingRects("hello world", font, 500, {6, 5});
  ASSERT_EQ(hello.size(), 1u);
  ASSERT_EQ(world.size(), 1u);
  EXPECT_DOUBLE_EQ(hello.front().x, 0);
  EXPECT_GT(world.front().x, hello.front().x + hello.front().width);
  EXPECT_GT(world.front().width, 10);
  EXPECT_DOUBLE_EQ(world.front().y, 0);
  EXPECT_GT(world.front().height, 10);
}

TEST_F(QtTextLayoutTest, AWrappedRangeGivesOneRectanglePerLineGoingDown) {
  const std::string text = "one two three four five six seven eight nine ten";
  const auto rects = layout.enclosingRects(text, font, 60, {0, static_cast<std::int64_t>(text.size())});
  ASSERT_GE(rects.size(), 3u);
  for (std::size_t line = 1; line < rects.size(); ++line) EXPECT_GT(rects[line].y, rects[line - 1].y);
  for (const auto& rect : rects) EXPECT_LE(rect.x + rect.width, 60 + 1);

  const auto paragraphs = layout.enclosingRects("first\nsecond", font, 500, {6, 6});
  ASSERT_EQ(paragraphs.size(), 1u);
  EXPECT_GT(paragraphs.front().y, 0) << "a line break starts a new line";
}

TEST_F(QtTextLayoutTest, RangesCountUtf16UnitsAndEmptyOrOutsideRangesHaveNoGlyphs) {
  const auto emoji = layout.enclosingRects("a😀b", font, 500, {1, 2});
  const auto after = layout.enclosingRects("a😀b", font, 500, {3, 1});
  ASSERT_EQ(emoji.size(), 1u);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_GE(after.front().x, emoji.front().x + emoji.front().width - 0.5);
  EXPECT_TRUE(layout.enclosingRects("abc", font, 500, {1, 0}).empty());
  EXPECT_TRUE(layout.enclosingRects("abc", font, 500, {5, 2}).empty());
}

}  // namespace
}  // namespace quillet::platform::qt
