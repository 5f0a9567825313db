#include "quillet-dictate/transcription/TranscriptCleanup.h"

#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/text/IcuText.h"
#include "common/text/UnicodeText.h"

namespace quillet::dictate {
namespace {

struct RuleText {
  std::string_view pattern;
  std::string_view replacement;  // "$1" stands for the first capture group
  uint32_t flags;
};

constexpr uint32_t kCaseInsensitive = UREGEX_CASE_INSENSITIVE;
constexpr uint32_t kCaseSensitive = 0;

// In this order: spoken commands become marks first, fillers go next, and the spacing rules then
// treat the marks left by commands like typed ones. \b is ICU's default boundary between \w and \W.
constexpr std::array<RuleText, 11> kRuleTexts = {{
    {R"(\bnew paragraph\b[.,]?)", "\n\n", kCaseInsensitive},
    {R"(\bnew line\b[.,]?)", "\n", kCaseInsensitive},
    {R"(\b(full stop|period)\b[.,]?)", ".", kCaseInsensitive},
    {R"(\bcomma\b[.,]?)", ",", kCaseInsensitive},
    {R"(\bquestion mark\b[.,]?)", "?", kCaseInsensitive},
    {R"(\bexclamation (mark|point)\b[.,]?)", "!", kCaseInsensitive},
    {R"((,\s*)?\b(um+|uh+|uhm+|erm+|hmm+|mm+)\b[,.]?)", "", kCaseInsensitive},
    // Blank runs are matched only from where they begin, which finds the same matches as from anywhere
    // in them but keeps a long run from being rescanned at each of its characters.
    {R"((?<![ \t])[ \t]+([.,!?;:]))", "$1", kCaseSensitive},
    // A ".", "," or ":" between two digits belongs to a number (3.5, 1,000, 10:30) and gets no space.
    {R"(([.,!?;:])(?=[^\s.,!?;:\n])(?!(?<=\d[.,:])\d))", "$1 ", kCaseSensitive},
    {R"([ \t]{2,})", " ", kCaseSensitive},
    // Likewise from where a run of spaces begins; a line feed right after spaces an earlier match took stands alone.
    {R"((?<! ) +\n *|\n *)", "\n", kCaseSensitive},
}};

struct Rule {
  std::unique_ptr<const icu::RegexPattern> pattern;
  icu::UnicodeString replacement;
};

Rule compiled(const RuleText& text) {
  UParseError where{};
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<const icu::RegexPattern> pattern(
      icu::RegexPattern::compile(text::decodedUtf8(text.pattern).value(), text.flags, where, status));
  // The patterns are fixed, so only a broken ICU fails here; the rule is then left out rather than the text lost.
  if (U_FAILURE(status)) pattern.reset();
  return Rule{std::move(pattern), text::decodedUtf8(text.replacement).value()};
}

// Compiled once; a RegexPattern is immutable, so every thread shares them and brings its own matchers.
const std::array<Rule, kRuleTexts.size()>& rules() {
  static const std::array<Rule, kRuleTexts.size()> compiledRules = [] {
    std::array<Rule, kRuleTexts.size()> built;
    for (std::size_t index = 0; index < kRuleTexts.size(); ++index) built[index] = compiled(kRuleTexts[index]);
    return built;
  }();
  return compiledRules;
}

// A rule that cannot run (no pattern, or ICU out of memory) leaves the text as it was.
icu::UnicodeString replacedEveryMatch(const Rule& rule, const icu::UnicodeString& text) {
  if (!rule.pattern) return text;
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<icu::RegexMatcher> matcher(rule.pattern->matcher(text, status));
  if (U_FAILURE(status) || !matcher) return text;
  icu::UnicodeString replaced = matcher->replaceAll(rule.replacement, status);
  if (U_FAILURE(status)) return text;
  return replaced;
}

std::string withRulesApplied(std::string_view utf8) {
  // Text too long for ICU to hold is left to the later steps as it came.
  auto decoded = text::decodedUtf8(utf8);
  if (decoded.failed()) return std::string(utf8);
  icu::UnicodeString text = std::move(decoded).value();
  for (const Rule& rule : rules()) text = replacedEveryMatch(rule, text);
  return text::encodedUtf8(text);
}

bool isSentenceEnd(std::string_view character) {
  return character == "." || character == "!" || character == "?" || character == "\n";
}

// Upper-cases, character by character, every letter that follows a sentence end with nothing but
// white space in between; with `startsSentence`, a lower-case letter at the very start too. Upper-casing
// that first letter cannot start or end a sentence, so one walk does both.
std::string capitaliseSentenceStarts(std::string_view text, bool startsSentence) {
  std::string result;
  result.reserve(text.size());
  bool isFirstCharacter = true;
  bool capitalPending = false;
  text::forEachCharacter(text, [&](std::string_view character) {
    const bool mayCapitaliseFirst = std::exchange(isFirstCharacter, false) && startsSentence;
    if (!capitalPending && !mayCapitaliseFirst) {
      result += character;
      capitalPending = isSentenceEnd(character);
      return;
    }
    icu::UnicodeString decodedCharacter = text::decodedUtf8(character).value();
    const UChar32 leading = decodedCharacter.char32At(0);
    if (u_isalpha(leading) && (capitalPending || u_isULowercase(leading))) {
      // The whole character, combining marks included; its upper-case form may be longer ("ß" becomes "SS").
      decodedCharacter.toUpper(icu::Locale::getRoot()).toUTF8String(result);
      capitalPending = false;
      return;
    }
    result += character;
    capitalPending = isSentenceEnd(character) || (capitalPending && u_isUWhiteSpace(leading));
  });
  return result;
}

}  // namespace

std::string TranscriptCleanup::clean(std::string_view text, bool startsSentence) {
  const std::string trimmed = text::trimmedWhitespaceAndNewlines(withRulesApplied(text));
  if (trimmed.empty()) return trimmed;
  return capitaliseSentenceStarts(trimmed, startsSentence);
}

}  // namespace quillet::dictate
