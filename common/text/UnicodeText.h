#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// UTF-8 text helpers backed by ICU. Ill-formed UTF-8 is read the way ICU converts it: every
// maximal ill-formed subsequence stands for one U+FFFD, so no input can crash or stall these
// helpers, and every text they return is well-formed UTF-8. Text of any length is taken: what is
// longer than ICU can address goes to it in pieces cut between code points. Nothing here throws.
namespace quillet::text {

// Full Unicode lower-casing with the root locale (context-sensitive final sigma included).
std::string lowercased(std::string_view utf8);

// Full Unicode upper-casing with the root locale; the result may be longer ("ß" becomes "SS").
std::string uppercased(std::string_view utf8);

// What the first code point of a text is, which classifies a user-perceived character with its combining
// marks; all false for an empty text, and an ill-formed start reads as U+FFFD, which is none of these.
struct LeadingCodePoint {
  bool isLetter = false;           // the Alphabetic property
  bool isLowercase = false;        // the Lowercase property
  bool isLetterOrNumber = false;   // a general category L or N
  bool isPunctuation = false;      // a general category P
  bool isWhiteSpace = false;       // the White_Space property
  bool isBlank = false;            // a space or tab, not a line break
};
LeadingCodePoint leadingCodePointOf(std::string_view utf8);

// `utf8` with every ill-formed sequence replaced by U+FFFD.
std::string wellFormed(std::string_view utf8);

// The number of user-perceived characters (extended grapheme clusters).
std::size_t characterCount(std::string_view utf8);

// Calls `visit` with each user-perceived character of `utf8` in order, as a view into it;
// together the views cover it.
void forEachCharacter(std::string_view utf8, const std::function<void(std::string_view character)>& visit);

// `utf8` without Unicode white space (the White_Space property, line breaks included) at either end.
std::string trimmedWhitespaceAndNewlines(std::string_view utf8);

// Whether `utf8` is well-formed UTF-8 (an empty text is).
bool isValidUTF8(std::string_view utf8);

// The number of UTF-16 code units, the unit in which text ranges are measured.
std::size_t utf16Length(std::string_view utf8);

// The longest start of `utf8` made of whole user-perceived characters that takes at most `maxUtf16Units`
// UTF-16 code units. Costs the length of that start, however long `utf8` is beyond it.
std::string_view leadingWithinUtf16Units(std::string_view utf8, std::size_t maxUtf16Units);

namespace detail {
// How text is cut into pieces of at most `largestPiece` bytes for ICU, for tests of the cut: each piece but
// the first begins where a code point does, unless a run of over three continuation bytes leaves no choice.
void forEachPiece(std::string_view utf8, std::size_t largestPiece,
                  const std::function<void(std::string_view piece)>& visit);
}  // namespace detail

}  // namespace quillet::text
