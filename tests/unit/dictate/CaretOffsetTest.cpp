#include "quillet-dictate/accessibility/CaretOffset.h"

#include <gtest/gtest.h>

namespace quillet::dictate {
namespace {

TEST(CaretOffsetTest, Utf16LocationsBecomeByteOffsetsOnCharacterBoundaries) {
  const std::string emoji = "\xF0\x9F\x98\x80";            // two UTF-16 units, four bytes
  const std::string accented = "e\xCC\x81";                // e and a combining acute: one character
  const struct {
    const char* what;
    std::string text;
    std::int64_t location;
    std::size_t expected;
  } cases[] = {
      {"start", "abc", 0, 0},
      {"middle of ASCII", "abc", 2, 2},
      {"end", "abc", 3, 3},
      {"beyond the end", "abc", 9, 3},
      {"after a two-byte letter", "\xC3\xA4" "b", 1, 2},
      {"after an emoji", "a" + emoji + "b", 3, 5},
      {"inside an emoji's pair", "a" + emoji + "b", 2, 5},
      {"inside a letter and its accent", accented + "x", 1, 3},
      {"empty text", "", 4, 0},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    EXPECT_EQ(byteOffsetOfCaret(testCase.text, testCase.location), testCase.expected);
  }
}

}  // namespace
}  // namespace quillet::dictate
