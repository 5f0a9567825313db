#include "quillet-dictate/backend/CleanupGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/text/UnicodeText.h"
#include "quillet-dictate/backend/AIPromptTemplate.h"
#include "quillet-dictate/backend/CleanupMode.h"
#include "tests/support/RepeatedText.h"

namespace quillet::dictate {
namespace {

using Tokens = std::vector<std::string>;

using test::repeated;

constexpr std::string_view kMumbledInput = "so um we shipped the build on friday";
constexpr std::string_view kPolishedOutput = "We shipped the build on Friday.";

TEST(CleanupGuardTest, PolishedDictationIsFaithful) {
  // "so", "um", "we" and "on" are too short to be tokens.
  EXPECT_EQ(CleanupGuard::contentTokens(kPolishedOutput), (Tokens{"shipped", "the", "build", "friday"}));
  EXPECT_EQ(CleanupGuard::contentTokens(kMumbledInput), (Tokens{"shipped", "the", "build", "friday"}));
  // Counted by hand: a length ratio of 31/36.
  EXPECT_EQ(text::characterCount(kPolishedOutput), 31u);
  EXPECT_EQ(text::characterCount(kMumbledInput), 36u);
  EXPECT_TRUE(CleanupGuard::isFaithfulCleanup(kMumbledInput, kPolishedOutput));
}

struct TokenCase {
  std::string_view name;
  std::string_view text;
  Tokens expected;
};

TEST(CleanupGuardTest, ContentTokensAreLowercasedAlphabetRunsLongerThanTwoCharacters) {
  const TokenCase cases[] = {
      {"empty", "", {}},
      {"only short words", "We do it, as we go.", {}},
      {"duplicates kept in order", "The the THE", {"the", "the", "the"}},
      {"hyphens and punctuation separate", "state-of-the-art, (really)!", {"state", "the", "art", "really"}},
      {"digits belong to tokens", "abc123 x1 1234", {"abc123", "1234"}},
      {"ascii apostrophe joins", "Don't", {"don't"}},
      {"typographic apostrophe separates", "don\u2019t", {"don"}},
      {"quotes made of ascii apostrophes stay", "it's 'quoted' ''", {"it's", "'quoted'"}},
      {"precomposed accented letter separates", "cafés", {"caf"}},
      // The letter and its combining mark are one character, and that character is not in the alphabet.
      {"letter with combining mark separates", "cafe\u0301s", {"caf"}},
      {"non-latin letters separate", "worldмир ΣΟΦΙΑ 東京tokyo", {"world", "tokyo"}},
      {"fullwidth letters separate", "ＡＢＣ abc", {"abc"}},
      // Lower-casing comes first, and the Kelvin sign lower-cases to an ascii k.
      {"lower-casing may produce ascii", "\u212AELVIN", {"kelvin"}},
      {"dotted capital I lower-cases to i with a mark", "İSTANBUL", {"stanbul"}},
      {"ill-formed bytes separate", "abc\xFFghi", {"abc", "ghi"}},
  };
  for (const auto& [name, text, expected] : cases) {
    EXPECT_EQ(CleanupGuard::contentTokens(text), expected) << name;
  }
}

constexpr std::array<std::string_view, 10> kDerailmentPhrases = {
    "the speaker",       "the author",        "the speaker's",         "they state that", "they note that",
    "they mention that", "they explain that", "they question whether", "they agree and",  "the user states",
};

TEST(CleanupGuardTest, SpeakerReportIsNotFaithfulUnlessTheSpeakerSaidIt) {
  const std::string_view report = "The speaker says they shipped the build.";
  EXPECT_FALSE(CleanupGuard::isFaithfulCleanup(kMumbledInput, report));
  EXPECT_TRUE(CleanupGuard::isFaithfulCleanup("the speaker said we shipped the build", report));
}

TEST(CleanupGuardTest, EveryDerailmentPhraseInTheOutputAloneFailsWhateverItsCase) {
  const std::string words = "we shipped the build on friday";
  for (const std::string_view phrase : kDerailmentPhrases) {
    const std::string upperPhrase = [&] {
      std::string upper(phrase);
      for (char& letter : upper) letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
      return upper;
    }();
    EXPECT_FALSE(CleanupGuard::isFaithfulCleanup(words, words + " " + upperPhrase)) << phrase;
    // The same output passes every other rule, as it does when the input holds the phrase too.
    EXPECT_TRUE(CleanupGuard::isFaithfulCleanup(words + " " + upperPhrase, words + " " + std::string(phrase)))
        << phrase;
  }
}

TEST(CleanupGuardTest, OnlyWholeDerailmentPhrasesCount) {
  const std::string words = "we shipped the build on friday";
  for (const std::string_view phrase : kDerailmentPhrases) {
    for (const std::string_view nearMiss : {phrase.substr(1), phrase.substr(0, phrase.size() - 1)}) {
      // "the speaker'" still holds "the speaker".
      const bool holdsAnotherPhrase =
          std::any_of(kDerailmentPhrases.begin(), kDerailmentPhrases.end(),
                      [&](std::string_view other) { return nearMiss.find(other) != nearMiss.npos; });
      EXPECT_EQ(CleanupGuard::isFaithfulCleanup(words, words + " " + std::string(nearMiss)), !holdsAnotherPhrase)
          << nearMiss;
    }
  }
}

TEST(CleanupGuardTest, OutputWithoutTokensIsNotFaithful) {
  for (const std::string_view output : {"", "   ", "We do it, as we go.", "\u2019\u2019\u2019"}) {
    EXPECT_FALSE(CleanupGuard::isFaithfulCleanup(kMumbledInput, output)) << output;
  }
}

struct LengthCase {
  std::string_view inputFiller;
  std::string_view outputFiller;
};

// The input is 100 characters and every output its single input token plus filler, so only
// the length rule can decide. The multi-byte fillers make byte, UTF-16 and code point counts
// disagree with character counts (29 emoji characters are 269 bytes against 195 input bytes).
TEST(CleanupGuardTest, LengthRuleKeepsOutputsFromThreeTenthsToTwoAndAHalfTimesTheInputInclusive) {
  const std::string_view token = "apple";
  const LengthCase fillers[] = {{"-", "-"}, {"e\u0301", "👩\u200D💻"}, {"é", "x\u0301"}};
  const std::pair<std::size_t, bool> outputLengths[] = {
      {29, false}, {30, true}, {100, true}, {250, true}, {251, false}};
  for (const auto& [inputFiller, outputFiller] : fillers) {
    const std::string input = std::string(token) + repeated(inputFiller, 95);
    ASSERT_EQ(text::characterCount(input), 100u);
    for (const auto& [length, passes] : outputLengths) {
      const std::string output = std::string(token) + repeated(outputFiller, length - token.size());
      ASSERT_EQ(text::characterCount(output), length);
      EXPECT_EQ(CleanupGuard::isFaithfulCleanup(input, output), passes) << outputFiller << " " << length;
    }
  }
}

TEST(CleanupGuardTest, InputOfAtMostOneCharacterRejectsEveryOutputWithTokens) {
  for (const std::string_view input : {"", "a", "👩\u200D💻"}) {
    for (const std::string_view output : {"abc", "a abc", "abc abc abc"}) {
      EXPECT_FALSE(CleanupGuard::isFaithfulCleanup(input, output)) << input << " → " << output;
    }
  }
}

struct OverlapCase {
  std::string_view output;
  bool faithful;
};

TEST(CleanupGuardTest, OverlapRuleNeedsHalfTheOutputTokensCountedWithDuplicatesInTheInput) {
  const std::string_view input = "Alpha beta gamma";
  const OverlapCase cases[] = {
      {"alpha beta gamma", true},               // 3/3
      {"ALPHA omega", true},                    // 1/2
      {"alpha beta omega sigma", true},         // 2/4
      {"alpha beta gamma omega sigma", true},   // 3/5
      {"alpha omega sigma", false},             // 1/3
      {"alpha beta omega sigma kappa", false},  // 2/5
      {"omega sigma kappa", false},             // 0/3
      {"alpha alpha omega sigma", true},        // duplicates count: 2/4, not 1/3
      {"alpha omega omega", false},             // duplicates count: 1/3, not 1/2
  };
  for (const auto& [output, faithful] : cases) {
    EXPECT_EQ(CleanupGuard::isFaithfulCleanup(input, output), faithful) << output;
  }
}

TEST(CleanupGuardTest, OverlapComparesTokensAsSplitSoApostrophesAndForeignLettersMatter) {
  // "don't" against "don" and "know": one of two output tokens is in the input.
  EXPECT_TRUE(CleanupGuard::isFaithfulCleanup("I don't know", "I don\u2019t know."));
  // "don't" and "know" against "don" and "know": one of two, still half.
  EXPECT_TRUE(CleanupGuard::isFaithfulCleanup("I don\u2019t know", "I don't know."));
  // The Cyrillic word separates "world" from "peace" in the input, so both are found.
  EXPECT_TRUE(CleanupGuard::isFaithfulCleanup("worldмир peace", "world peace mir"));
  EXPECT_FALSE(CleanupGuard::isFaithfulCleanup("worldmir peace", "world peace mir"));
}

TEST(CleanupModeTest, RawValuesMatchExactlyAndCaseSensitively) {
  const std::pair<std::string_view, std::optional<CleanupMode>> cases[] = {
      {"grammar", CleanupMode::grammar},
      {"concise", CleanupMode::concise},
      {"professional", CleanupMode::professional},
      {"casual", CleanupMode::casual},
      {"custom", CleanupMode::custom},
      {"Grammar", std::nullopt},
      {" custom", std::nullopt},
      {"", std::nullopt},
      {"auto", std::nullopt},
  };
  for (const auto& [raw, mode] : cases) {
    EXPECT_EQ(kCleanupModeRawValues.from(raw), mode) << raw;
    if (mode) {
      EXPECT_EQ(kCleanupModeRawValues.rawValue(*mode), raw);
    }
  }
}

TEST(AIPromptTemplateTest, TemplatesEnumerateInOrderAndMatchRawValuesExactly) {
  const std::array<std::string_view, 5> rawInOrder = {"auto", "build", "fix", "refactor", "ask"};
  const auto templates = kAIPromptTemplateRawValues.allCases();
  ASSERT_EQ(templates.size(), rawInOrder.size());
  for (std::size_t index = 0; index < templates.size(); ++index) {
    EXPECT_EQ(kAIPromptTemplateRawValues.rawValue(templates[index]), rawInOrder[index]);
    EXPECT_EQ(kAIPromptTemplateRawValues.from(rawInOrder[index]), templates[index]);
  }
  EXPECT_EQ(templates.front(), AIPromptTemplate::automatic);
  for (const std::string_view other : {"Auto", "ASK", "fix ", "", "grammar"}) {
    EXPECT_EQ(kAIPromptTemplateRawValues.from(other), std::nullopt) << other;
  }
}

}  // namespace
}  // namespace quillet::dictate
