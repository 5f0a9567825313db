#include "platform/linux/atspi/Utf16OffsetMap.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quillet::platform::atspi {
namespace {

// "a😀b👍🏽c": characters a, 😀, b, 👍, skin tone, c; the emoji and the tone take two UTF-16 units each.
const std::string kText = "a\xF0\x9F\x98\x80" "b\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD" "c";

// Counts the way AX does, straight from the text, to hold the map against.
std::int64_t utf16OffsetByCounting(const std::string& text, std::int64_t characters) {
  std::int64_t units = 0;
  std::size_t byte = 0;
  for (std::int64_t seen = 0; seen < characters && byte < text.size(); ++seen) {
    const auto lead = static_cast<unsigned char>(text[byte]);
    const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    units += length == 4 ? 2 : 1;
    byte += length;
  }
  return units;
}

TEST(Utf16OffsetMapTest, TranslatesBothWaysAroundCharactersOfTwoUnits) {
  const auto map = Utf16OffsetMap::of(kText);
  ASSERT_EQ(map.characterCount(), 6);

  const std::int64_t utf16[] = {0, 1, 3, 4, 6, 8, 9};
  for (std::int64_t character = 0; character <= 6; ++character) {
    EXPECT_EQ(map.utf16OffsetOf(character), utf16[character]) << "character " << character;
    EXPECT_EQ(map.characterOffsetOf(utf16[character], false), character);
    EXPECT_EQ(map.characterOffsetOf(utf16[character], true), character);
  }
  EXPECT_EQ(map.utf16OffsetOf(99), 9) << "beyond the end is the end";

  const struct {
    std::int64_t utf16;
    bool roundUp;
    std::optional<std::int64_t> character;
  } cases[] = {
      {2, false, 1}, {2, true, 2},  // inside 😀's pair
      {7, false, 4}, {7, true, 5},  // inside the skin tone's pair
      {-1, false, std::nullopt}, {10, true, std::nullopt},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.utf16);
    EXPECT_EQ(map.characterOffsetOf(testCase.utf16, testCase.roundUp), testCase.character);
  }
}

TEST(Utf16OffsetMapTest, EditsKeepTheMapEqualToAMapOfTheEditedText) {
  auto map = Utf16OffsetMap::of(kText);
  const std::string inserted = "\xF0\x9F\x8E\x89x\xC3\xA9";  // 🎉xé: three characters, one of two units

  // After "a😀" goes "🎉xé"; then "b👍" (characters 5 and 6 by then) goes away.
  map.inserted(2, inserted);
  map.deleted(5, 2);
  const std::string text = "a\xF0\x9F\x98\x80" + inserted + "\xF0\x9F\x8F\xBD" "c";

  const auto fresh = Utf16OffsetMap::of(text);
  ASSERT_EQ(map.characterCount(), fresh.characterCount());
  for (std::int64_t character = 0; character <= fresh.characterCount(); ++character) {
    EXPECT_EQ(map.utf16OffsetOf(character), fresh.utf16OffsetOf(character)) << "character " << character;
    EXPECT_EQ(map.utf16OffsetOf(character), utf16OffsetByCounting(text, character));
  }
}

TEST(Utf16OffsetMapTest, EditsBeyondTheTextAreCutToIt) {
  auto map = Utf16OffsetMap::of("ab");
  map.deleted(1, 50);
  EXPECT_EQ(map.characterCount(), 1);
  map.inserted(40, "\xF0\x9F\x98\x80");
  EXPECT_EQ(map.characterCount(), 2);
  EXPECT_EQ(map.utf16OffsetOf(2), 3) << "the emoji went to the end";
}

}  // namespace
}  // namespace quillet::platform::atspi
