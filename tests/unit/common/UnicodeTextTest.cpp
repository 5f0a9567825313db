#include "common/text/UnicodeText.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::text {
namespace {

std::vector<std::string_view> characters(std::string_view text) {
  std::vector<std::string_view> found;
  forEachCharacter(text, [&found](std::string_view character) { found.push_back(character); });
  return found;
}

// U+FFFD REPLACEMENT CHARACTER in UTF-8.
#define REPLACEMENT "\xEF\xBF\xBD"

struct LowercaseCase {
  std::string_view name;
  std::string_view text;
  std::string_view expected;
};

TEST(UnicodeTextTest, LowercasedAppliesFullUnicodeCaseMappingOfTheRootLocale) {
  const LowercaseCase cases[] = {
      {"empty", "", ""},
      {"ascii", "HeLLo World 42!", "hello world 42!"},
      {"latin accents", "ÀÉÎÕÜ", "àéîõü"},
      // Outside Turkish and Azeri, U+0130 lower-cases to i followed by U+0307.
      {"dotted capital I", "İ", "i\u0307"},
      {"capital sharp s", "ẞ", "ß"},
      // Final_Sigma: a sigma that ends a word becomes U+03C2, elsewhere U+03C3.
      {"final sigma", "ΟΔΟΣ", "οδος"},
      {"medial sigma", "ΣΑ ΟΣΑ", "σα οσα"},
      {"kelvin sign becomes ascii", "\u212A", "k"},
      {"fullwidth stays fullwidth", "ＡＢＣ", "ａｂｃ"},
      {"cyrillic", "ПРИВЕТ", "привет"},
  };
  for (const auto& [name, text, expected] : cases) {
    EXPECT_EQ(lowercased(text), expected) << name;
  }
}

TEST(UnicodeTextTest, UppercasedMayLengthenAndTheLeadingCodePointIsClassified) {
  const LowercaseCase uppercases[] = {
      {"empty", "", ""},
      {"sharp s becomes two letters", "ß", "SS"},
      {"a letter with a combining mark keeps the mark", "e\u0301", "E\u0301"},
      {"dotless i", "ı", "I"},
      {"ill-formed bytes become U+FFFD", "\xFF", "\xEF\xBF\xBD"},
  };
  for (const auto& [name, text, expected] : uppercases) EXPECT_EQ(uppercased(text), expected) << name;

  // Columns: letter, lower-case, letter or number, punctuation, white space, blank.
  const struct {
    std::string_view text;
    std::array<bool, 6> expected;
  } leads[] = {
      {"", {false, false, false, false, false, false}},
      {"a", {true, true, true, false, false, false}},
      {"E\u0301", {true, false, true, false, false, false}},
      {"ß", {true, true, true, false, false, false}},
      {"\u3042", {true, false, true, false, false, false}},
      {"7", {false, false, true, false, false, false}},
      {"\u00BD", {false, false, true, false, false, false}},
      {"!", {false, false, false, true, false, false}},
      {"\u00BF", {false, false, false, true, false, false}},
      {" ", {false, false, false, false, true, true}},
      {"\t", {false, false, false, false, true, true}},
      {"\u00A0", {false, false, false, false, true, true}},
      {"\n", {false, false, false, false, true, false}},
      {"\xC3", {false, false, false, false, false, false}},
      {"\xFF" "a", {false, false, false, false, false, false}},
  };
  for (const auto& lead : leads) {
    const LeadingCodePoint classified = leadingCodePointOf(lead.text);
    const std::array<bool, 6> actual = {classified.isLetter,      classified.isLowercase,  classified.isLetterOrNumber,
                                        classified.isPunctuation, classified.isWhiteSpace, classified.isBlank};
    EXPECT_EQ(actual, lead.expected) << "\"" << lead.text << '"';
  }
}

struct CountCase {
  std::string_view name;
  std::string_view text;
  std::size_t characters;
  std::size_t utf16Units;
};

TEST(UnicodeTextTest, CharacterCountCountsGraphemeClustersAndUtf16LengthCountsCodeUnits) {
  const CountCase cases[] = {
      {"empty", "", 0, 0},
      {"ascii", "abc", 3, 3},
      {"precomposed e acute", "é", 1, 1},
      {"e with combining acute", "e\u0301", 1, 2},
      {"two combining marks", "a\u0301\u0323x", 2, 4},
      {"astral emoji", "😀", 1, 2},
      {"emoji joined by ZWJ", "👩\u200D💻", 1, 5},
      {"emoji with skin tone", "👍🏽", 1, 4},
      {"two flags", "🇫🇷🇩🇪", 2, 8},
      {"CR LF", "\r\n", 1, 2},
      {"hangul jamo syllable", "\u1112\u1161\u11AB", 1, 3},
      {"mixed", "so é👩\u200D💻!", 6, 10},
  };
  for (const auto& [name, text, characterTotal, utf16Total] : cases) {
    EXPECT_EQ(characterCount(text), characterTotal) << name;
    EXPECT_EQ(characters(text).size(), characterTotal) << name;
    EXPECT_EQ(utf16Length(text), utf16Total) << name;
  }
}

TEST(UnicodeTextTest, ForEachCharacterVisitsConsecutiveViewsIntoTheText) {
  const std::string_view text = "e\u0301x👩\u200D💻\r\n";
  const std::vector<std::string_view> expected = {"e\u0301", "x", "👩\u200D💻", "\r\n"};
  const std::vector<std::string_view> found = characters(text);
  EXPECT_EQ(found, expected);
  ASSERT_FALSE(found.empty());
  EXPECT_EQ(found.front().data(), text.data());
  for (std::size_t index = 1; index < found.size(); ++index) {
    EXPECT_EQ(found[index].data(), found[index - 1].data() + found[index - 1].size());
  }
}

TEST(UnicodeTextTest, ForEachCharacterMayCallTheOtherHelpersFromItsVisitor) {
  std::vector<std::string_view> found;
  std::vector<std::size_t> innerCounts;
  forEachCharacter("ab👩\u200D💻", [&](std::string_view character) {
    found.push_back(character);
    innerCounts.push_back(characterCount("e\u0301x"));
  });
  EXPECT_EQ(found, (std::vector<std::string_view>{"a", "b", "👩\u200D💻"}));
  EXPECT_EQ(innerCounts, (std::vector<std::size_t>{2, 2, 2}));
}

struct TrimCase {
  std::string_view name;
  std::string_view text;
  std::string_view expected;
};

TEST(UnicodeTextTest, TrimmedRemovesWhiteSpaceAndLineBreaksAtBothEndsOnly) {
  const TrimCase cases[] = {
      {"empty", "", ""},
      {"blank", " \t\n ", ""},
      {"nothing to trim", "a b", "a b"},
      {"ascii spaces", "  hello  ", "hello"},
      {"inner white space kept", "\n a \u3000 b \n", "a \u3000 b"},
      {"ascii controls and next line", "\t\n\r\v\f hi \u0085", "hi"},
      {"no-break and ideographic spaces", "\u00A0\u2003\u3000word\u202F\u205F", "word"},
      {"line and paragraph separators", "\u2028\u1680x\u2029", "x"},
      // Neither is White_Space: both are format characters.
      {"zero width space kept", "\u200Bx\u200B", "\u200Bx\u200B"},
      {"byte order mark kept", "\uFEFFx", "\uFEFFx"},
      // Information separators are controls that u_isspace counts but White_Space does not.
      {"information separators kept", "\x1Cx\x1F", "\x1Cx\x1F"},
  };
  for (const auto& [name, text, expected] : cases) {
    EXPECT_EQ(trimmedWhitespaceAndNewlines(text), expected) << name;
  }
}

struct IllFormedCase {
  std::string_view name;
  std::string_view text;
  std::string_view readAs;
  std::size_t characters;  // each U+FFFD here is one character and one UTF-16 unit
};

// Ill-formed UTF-8 reads as one U+FFFD per maximal ill-formed subsequence (the practice the
// Unicode Standard recommends in chapter 3 and ICU implements); every helper agrees on it.
TEST(UnicodeTextTest, IllFormedUtf8ReadsAsReplacementCharactersInEveryHelper) {
  const IllFormedCase cases[] = {
      {"stray byte", "a\xFFz", "a" REPLACEMENT "z", 3},
      {"lone continuation byte", "\x80", REPLACEMENT, 1},
      {"truncated three-byte sequence", "\xE2\x82", REPLACEMENT, 1},
      {"overlong slash", "\xC0\xAF", REPLACEMENT REPLACEMENT, 2},
      {"encoded surrogate", "\xED\xA0\x80", REPLACEMENT REPLACEMENT REPLACEMENT, 3},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", REPLACEMENT REPLACEMENT REPLACEMENT REPLACEMENT, 4},
      {"standard's example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" REPLACEMENT REPLACEMENT REPLACEMENT "b" REPLACEMENT "c" REPLACEMENT REPLACEMENT "d", 10},
  };
  for (const auto& [name, text, readAs, characterTotal] : cases) {
    EXPECT_EQ(lowercased(text), readAs) << name;
    EXPECT_EQ(trimmedWhitespaceAndNewlines(text), readAs) << name;
    EXPECT_EQ(characterCount(text), characterTotal) << name;
    EXPECT_EQ(utf16Length(text), characterTotal) << name;
    std::string rejoined;
    for (const std::string_view character : characters(text)) rejoined += character;
    EXPECT_EQ(rejoined, text) << name;
  }
}

TEST(UnicodeTextTest, IllFormedBytesNextToWhiteSpaceAreKeptAsReplacementCharacters) {
  // E2 80 begins U+2000..U+203F, which holds spaces, but cut short it is no space.
  EXPECT_EQ(trimmedWhitespaceAndNewlines(" \xE2\x80 "), REPLACEMENT);
  EXPECT_EQ(trimmedWhitespaceAndNewlines("\xFF\n"), REPLACEMENT);
}

TEST(UnicodeTextTest, LongRunsOfIllFormedBytesAreCountedOnePerByte) {
  const std::string garbage(10'000, '\xFF');
  EXPECT_EQ(characterCount(garbage), garbage.size());
  EXPECT_EQ(characters(garbage).size(), garbage.size());
  EXPECT_EQ(utf16Length(garbage), garbage.size());
  EXPECT_EQ(lowercased(garbage).size(), 3 * garbage.size());
}

#undef REPLACEMENT

}  // namespace
}  // namespace quillet::text

namespace quillet::text {
namespace {

TEST(UnicodeTextTest, LeadingWithinUtf16UnitsKeepsWholeUserPerceivedCharacters) {
  const std::string family = "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // 👩‍👧: five UTF-16 units, one character
  const std::string thumb = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";                  // 👍🏽: four units, one character
  static const struct {
    const char* what;
    std::string text;
    std::size_t maxUnits;
    std::string expected;
  } cases[] = {
      {"short text is whole", "abc", 10, "abc"},
      {"cut between letters", "abcdef", 4, "abcd"},
      {"nothing fits", "abc", 0, ""},
      {"an emoji's pair is never split", "a\xF0\x9F\x98\x80" "b", 2, "a"},
      {"a joined family goes whole or not at all", "x" + family + "y", 5, "x"},
      {"the family fits", "x" + family + "y", 6, "x" + family},
      {"a skin tone stays with its hand", thumb + thumb, 6, thumb},
      {"a combining accent stays with its letter", "e\xCC\x81" "e\xCC\x81", 3, "e\xCC\x81"},
      {"a letter and its accent that fit", "e\xCC\x81" "x", 2, "e\xCC\x81"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    EXPECT_EQ(leadingWithinUtf16Units(testCase.text, testCase.maxUnits), testCase.expected);
  }
}

TEST(UnicodeTextValidityTest, TellsWellFormedUtf8FromIllFormed) {
  struct Case {
    const char* description;
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"empty", "", true},
      {"ascii", "quota", true},
      {"two-, three- and four-byte characters", "\xC3\xA9\xE2\x80\x99\xF0\x9F\x8E\x99", true},
      {"lone continuation byte", "a\x80" "b", false},
      {"truncated sequence at the end", "ok\xE2\x80", false},
      {"overlong encoding of '/'", "\xC0\xAF", false},
      {"surrogate code point", "\xED\xA0\x80", false},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", false},
      {"NUL is a character", std::string("a\0b", 3), true},
  };
  for (const auto& testCase : cases) EXPECT_EQ(isValidUTF8(testCase.bytes), testCase.valid) << testCase.description;
}

// Text longer than ICU can address goes to it in pieces; the cut never splits a code point, so what
// the pieces give is what the whole would. Shown with small pieces, since the real ones are a gigabyte.
TEST(UnicodeTextPieceTest, PiecesCoverTheTextAndBeginWhereCodePointsDo) {
  static const struct {
    const char* name;
    std::string_view text;
    std::size_t largestPiece;
    std::vector<std::string_view> pieces;
  } cases[] = {
      {"shorter than a piece", "abc", 8, {"abc"}},
      {"ASCII cut anywhere", "abcdefg", 3, {"abc", "def", "g"}},
      {"a cut inside \u00e9 moves before it", "ab\u00e9cd", 3, {"ab", "\u00e9c", "d"}},
      {"a four-byte emoji is never split", "a\U0001F600b", 4, {"a", "\U0001F600", "b"}},
      {"a run of continuation bytes longer than a code point is cut anyway", "\x80\x80\x80\x80\x80", 2,
       {"\x80\x80", "\x80\x80", "\x80"}},
      {"empty text is one empty piece", "", 4, {""}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    std::vector<std::string_view> pieces;
    detail::forEachPiece(testCase.text, testCase.largestPiece, [&pieces](std::string_view piece) { pieces.push_back(piece); });
    EXPECT_EQ(pieces, testCase.pieces);
  }
}

TEST(UnicodeTextTest, WellFormedReplacesOnlyIllFormedSequences) {
  EXPECT_EQ(wellFormed("caf\u00e9 \U0001F600"), "caf\u00e9 \U0001F600");
  EXPECT_EQ(wellFormed("a\xC3(b\xFF"), "a\xEF\xBF\xBD(b\xEF\xBF\xBD");
  EXPECT_EQ(wellFormed(""), "");
}

}  // namespace
}  // namespace quillet::text
