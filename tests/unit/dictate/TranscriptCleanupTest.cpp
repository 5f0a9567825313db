#include "quillet-dictate/transcription/TranscriptCleanup.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quillet::dictate {
namespace {

constexpr bool kStartsSentence = true;
constexpr bool kContinuesSentence = false;

struct Case {
  std::string_view name;
  std::string_view input;
  bool startsSentence;
  std::string_view expected;
};

void expectCleaned(std::span<const Case> cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(TranscriptCleanup::clean(c.input, c.startsSentence), c.expected) << c.name;
  }
}

TEST(TranscriptCleanupTest, SpokenPunctuationBecomesMarks) {
  const Case cases[] = {
      {"new paragraph", "hello new paragraph world", kStartsSentence, "Hello\n\nWorld"},
      {"new line", "one new line two", kContinuesSentence, "one\nTwo"},
      {"full stop", "stop full stop go", kContinuesSentence, "stop. Go"},
      {"period", "stop period go", kContinuesSentence, "stop. Go"},
      {"comma", "a comma b", kContinuesSentence, "a, b"},
      {"question mark", "why question mark", kContinuesSentence, "why?"},
      {"exclamation mark", "wow exclamation mark", kContinuesSentence, "wow!"},
      {"exclamation point", "wow exclamation point", kContinuesSentence, "wow!"},
      {"every match replaced", "a comma b comma c period", kContinuesSentence, "a, b, c."},
      {"own full stop swallowed", "Period.", kContinuesSentence, "."},
      {"own comma swallowed", "go comma, then", kContinuesSentence, "go, then"},
      {"only one trailing mark swallowed", "go period.. then", kContinuesSentence, "go.. Then"},
      {"command at the very end", "the end new paragraph", kContinuesSentence, "the end"},
  };
  expectCleaned(cases);
}

TEST(TranscriptCleanupTest, CommandsIgnoreCase) {
  const Case cases[] = {
      {"upper case", "A COMMA B PERIOD", kContinuesSentence, "A, B."},
      {"title case", "Hello New Paragraph World", kContinuesSentence, "Hello\n\nWorld"},
      {"mixed case", "go PeRiOd", kContinuesSentence, "go."},
      {"two words", "Really Question Mark", kContinuesSentence, "Really?"},
      {"full stop", "end Full Stop", kContinuesSentence, "end."},
      {"exclamation point", "yes EXCLAMATION POINT", kContinuesSentence, "yes!"},
      {"new line", "a NEW LINE b", kContinuesSentence, "a\nB"},
  };
  expectCleaned(cases);
}

// \b is the boundary between Unicode word characters (letters of any script, marks, digits) and the
// rest, not a UAX #29 word break: a full stop between two words separates them.
TEST(TranscriptCleanupTest, CommandsMatchWholeWordsOnly) {
  const Case cases[] = {
      {"longer word", "a periodic table", kContinuesSentence, "a periodic table"},
      {"plural", "two commas", kContinuesSentence, "two commas"},
      {"command inside a word", "renew lines", kContinuesSentence, "renew lines"},
      {"no space between the words", "a newline", kContinuesSentence, "a newline"},
      {"digit glued", "comma2", kContinuesSentence, "comma2"},
      {"accented letter after", "commaé", kContinuesSentence, "commaé"},
      {"accented letter before", "écomma", kContinuesSentence, "écomma"},
      {"combining mark after", "comma\u0301", kContinuesSentence, "comma\u0301"},
      {"cyrillic letter glued", "periodмир", kContinuesSentence, "periodмир"},
      {"between cyrillic words", "привет comma мир", kContinuesSentence, "привет, мир"},
      {"after an accented word", "naïve comma straße period", kContinuesSentence, "naïve, straße."},
      {"emoji is not a word character", "😀comma 😀", kContinuesSentence, "😀, 😀"},
      {"emoji right after", "stop period😀", kContinuesSentence, "stop. 😀"},
      {"full stop between words", "stop period.go", kContinuesSentence, "stop. Go"},
  };
  expectCleaned(cases);
}

TEST(TranscriptCleanupTest, FillersAreRemoved) {
  const Case cases[] = {
      {"inside a sentence", "so um I think", kContinuesSentence, "so I think"},
      {"with the comma before and after", "yes, um, sure", kContinuesSentence, "yes sure"},
      {"capitalised when starting a sentence", "yes, um, sure", kStartsSentence, "Yes sure"},
      {"blanks after the comma", "well,   uh sure", kContinuesSentence, "well sure"},
      {"leading filler", "Uh, what", kStartsSentence, "What"},
      {"with its full stop", "ok uh. fine", kContinuesSentence, "ok fine"},
      {"repeated letters", "hmmmm yes", kContinuesSentence, "yes"},
      {"upper case", "UMM yes", kContinuesSentence, "yes"},
      {"every variant", "um uh uhm erm hmm mm umm uhh ermm mmm go", kContinuesSentence, "go"},
      {"inside words kept", "umbrella drum hum summer ermine album", kContinuesSentence,
       "umbrella drum hum summer ermine album"},
      {"too short to be hmm", "hm yes", kContinuesSentence, "hm yes"},
      {"accented letter glued", "umé", kContinuesSentence, "umé"},
      {"cyrillic around", "ну um да", kContinuesSentence, "ну да"},
      {"emoji after", "um😀", kContinuesSentence, "😀"},
  };
  expectCleaned(cases);
}

TEST(TranscriptCleanupTest, SpacingAroundPunctuationIsNormalised) {
  const Case cases[] = {
      {"blank before a mark", "hello .", kContinuesSentence, "hello."},
      {"blanks and tabs before a mark", "a \t, b", kContinuesSentence, "a, b"},
      {"space inserted after a mark", "hello,world", kContinuesSentence, "hello, world"},
      {"semicolon and colon", "a;b:c", kContinuesSentence, "a; b: c"},
      {"moved then spaced", "a ,b", kContinuesSentence, "a, b"},
      {"runs of marks stay together", "what?! wow!! wait...ok", kContinuesSentence, "what?! Wow!! Wait... Ok"},
      {"mark before a line feed", "end.\nnext", kContinuesSentence, "end.\nNext"},
      {"mark before a tab", "a,\tb", kContinuesSentence, "a,\tb"},
      {"mark before a no-break space", "end.\u00A0next", kContinuesSentence, "end.\u00A0Next"},
      {"abbreviation split", "e.g.", kContinuesSentence, "e. G."},
      {"blank runs", "a   b \t c", kContinuesSentence, "a b c"},
      {"spaces around line feeds", "a \n  b", kContinuesSentence, "a\nB"},
      {"empty line kept", "a  \n\n  b", kContinuesSentence, "a\n\nB"},
      {"spaces between line feeds", "a \n \n b", kContinuesSentence, "a\n\nB"},
      {"trimmed", " \n\t hi \n ", kContinuesSentence, "hi"},
      {"trimmed of unicode white space", "\u3000hi\u00A0", kContinuesSentence, "hi"},
  };
  expectCleaned(cases);
}

// Inserting a space after a separator between two digits would turn one number into two.
TEST(TranscriptCleanupTest, NumbersStayWhole) {
  const Case cases[] = {
      {"decimal point", "it is 3.5 metres", kContinuesSentence, "it is 3.5 metres"},
      {"thousands separator", "1,000 people", kContinuesSentence, "1,000 people"},
      {"time of day", "at 10:30 sharp", kContinuesSentence, "at 10:30 sharp"},
      {"version number", "v2.0.1", kContinuesSentence, "v2.0.1"},
      {"decimal at a sentence end", "it costs 3.50. ok", kContinuesSentence, "it costs 3.50. Ok"},
      {"arabic-indic digits", "٣.٥", kContinuesSentence, "٣.٥"},
      {"letter after the point", "3.x", kContinuesSentence, "3. X"},
      {"letter before the point", "x.5", kContinuesSentence, "x. 5"},
      {"not a number separator", "3!5 3;5 3?5", kContinuesSentence, "3! 5 3; 5 3? 5"},
  };
  expectCleaned(cases);
}

TEST(TranscriptCleanupTest, FirstLetterCapitalisedOnlyWhenStartingASentence) {
  const Case cases[] = {
      {"starts", "hello", kStartsSentence, "Hello"},
      {"continues", "hello", kContinuesSentence, "hello"},
      {"already upper case", "Hello", kStartsSentence, "Hello"},
      {"accented letter", "éclair", kStartsSentence, "Éclair"},
      {"letter with combining mark", "e\u0301clair", kStartsSentence, "E\u0301clair"},
      {"upper-case form is longer", "ßa", kStartsSentence, "SSa"},
      {"upper case, not title case", "ǆungla", kStartsSentence, "Ǆungla"},
      {"title-case letter is not lower case", "ǅungla", kStartsSentence, "ǅungla"},
      {"cyrillic", "привет", kStartsSentence, "Привет"},
      {"digit first", "1st place", kStartsSentence, "1st place"},
      {"quote first", "\"yes\" she said", kStartsSentence, "\"yes\" she said"},
      {"emoji first", "😀 hi", kStartsSentence, "😀 hi"},
  };
  expectCleaned(cases);
}

TEST(TranscriptCleanupTest, LettersAfterSentenceEndsAreCapitalised) {
  const Case cases[] = {
      {"every sentence end", "one. two! three? four", kContinuesSentence, "one. Two! Three? Four"},
      {"line feed", "line one\nline two", kContinuesSentence, "line one\nLine two"},
      {"tab in between", "end.\tnext", kContinuesSentence, "end.\tNext"},
      {"any letter, title case included", "a. ǅx", kContinuesSentence, "a. Ǆx"},
      {"upper-case form is longer", "a. ßx", kContinuesSentence, "a. SSx"},
      {"accented and cyrillic", "да. éte. ещё", kContinuesSentence, "да. Éte. Ещё"},
      {"quotation mark cancels", "he said. \"yes\"", kContinuesSentence, "he said. \"yes\""},
      {"bracket cancels", "done. (maybe)", kContinuesSentence, "done. (maybe)"},
      {"digit cancels", "end. 2nd try", kContinuesSentence, "end. 2nd try"},
      {"emoji cancels", "done. 😀 next", kContinuesSentence, "done. 😀 next"},
      {"comma is no sentence end", "a, b; c: d", kContinuesSentence, "a, b; c: d"},
  };
  expectCleaned(cases);
}

TEST(TranscriptCleanupTest, NothingLeftGivesTheEmptyString) {
  const std::string_view inputs[] = {"", "   ", "\n\t \u00A0", "um", "uh, hmm. erm", "um new line", "new paragraph"};
  for (const std::string_view input : inputs) {
    EXPECT_EQ(TranscriptCleanup::clean(input, kStartsSentence), "") << input;
    EXPECT_EQ(TranscriptCleanup::clean(input, kContinuesSentence), "") << input;
  }
}

TEST(TranscriptCleanupTest, RulesApplyInOrder) {
  const Case cases[] = {
      {"commands, fillers, spacing, capitals", "so um I think comma we should go period", kStartsSentence,
       "So I think, we should go."},
      // The comma a command leaves is taken away with the filler that follows it.
      {"fillers after commands", "yes comma um sure", kContinuesSentence, "yes sure"},
      // Words brought together by removing a filler are no longer read as a command.
      {"commands before fillers", "new um line", kContinuesSentence, "new line"},
      {"spacing after commands", "hello comma world question mark", kContinuesSentence, "hello, world?"},
      {"spacing after fillers", "wait um . go", kContinuesSentence, "wait. Go"},
      {"capitals after fillers", "um hello", kStartsSentence, "Hello"},
      {"capitals after trimming", " \n hello", kStartsSentence, "Hello"},
  };
  expectCleaned(cases);
}

TEST(TranscriptCleanupTest, CleaningCleanedTextChangesNothing) {
  const std::string_view inputs[] = {
      "so um I think comma we should go period",
      "hello new paragraph world",
      "yes, um, sure",
      "e.g. 3.5 metres,then new line more",
      "да. éte. ещё ß. ǅx",
      "wait...ok what?! \"quoted\" 😀 end",
  };
  for (const std::string_view input : inputs) {
    for (const bool startsSentence : {kStartsSentence, kContinuesSentence}) {
      const std::string once = TranscriptCleanup::clean(input, startsSentence);
      EXPECT_EQ(TranscriptCleanup::clean(once, startsSentence), once) << input;
    }
  }
}

TEST(TranscriptCleanupTest, IllFormedUtf8BecomesReplacementCharacters) {
  EXPECT_EQ(TranscriptCleanup::clean("\xff comma \xc3", kContinuesSentence), "\uFFFD, \uFFFD");
}

TEST(TranscriptCleanupTest, ConcurrentCallsAgree) {
  const std::string input = "so um I think comma we should go period new paragraph привет. ßa, 3.5 hmm";
  const std::string expected = TranscriptCleanup::clean(input, kStartsSentence);
  constexpr std::size_t kThreads = 4;
  constexpr std::size_t kCallsPerThread = 50;
  std::vector<std::size_t> mismatches(kThreads, 0);
  {
    std::vector<std::jthread> threads;
    for (std::size_t thread = 0; thread < kThreads; ++thread) {
      threads.emplace_back([&, thread] {
        for (std::size_t call = 0; call < kCallsPerThread; ++call) {
          if (TranscriptCleanup::clean(input, kStartsSentence) != expected) ++mismatches[thread];
        }
      });
    }
  }
  EXPECT_EQ(expected, "So I think, we should go.\n\nПривет. SSa, 3.5");
  EXPECT_EQ(mismatches, std::vector<std::size_t>(kThreads, 0));
}

}  // namespace
}  // namespace quillet::dictate
