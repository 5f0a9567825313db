#include "quillet-dictate/transcription/TranscriptCleanup.h"

#include <array>
#include <string>
#include <utility>

#include "common/text/RewriteRules.h"
#include "common/text/UnicodeText.h"

namespace quillet::dictate {
namespace {

constexpr bool kCaseInsensitive = true;
constexpr bool kCaseSensitive = false;

// In this order: spoken commands become marks first, fillers go next, and the spacing rules then
// treat the marks left by commands like typed ones. \b is the boundary between \w and \W.
constexpr std::array<text::RewriteRules::Rule, 11> kRules = {{
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

// Compiled once and shared by every thread.
const text::RewriteRules& rules() {
  static const text::RewriteRules compiled(kRules);
  return compiled;
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
    const text::LeadingCodePoint leading = text::leadingCodePointOf(character);
    if (leading.isLetter && (capitalPending || leading.isLowercase)) {
      // The whole character, combining marks included; its upper-case form may be longer ("ß" becomes "SS").
      result += text::uppercased(character);
      capitalPending = false;
      return;
    }
    result += character;
    capitalPending = isSentenceEnd(character) || (capitalPending && leading.isWhiteSpace);
  });
  return result;
}

}  // namespace

std::string TranscriptCleanup::clean(std::string_view text, bool startsSentence) {
  const std::string trimmed = text::trimmedWhitespaceAndNewlines(rules().appliedTo(text));
  if (trimmed.empty()) return trimmed;
  return capitaliseSentenceStarts(trimmed, startsSentence);
}

}  // namespace quillet::dictate
