#include "common/text/UnicodeText.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "common/text/IcuText.h"

namespace quillet::text {
namespace {

// ICU measures text with int32_t. Longer text goes to it in pieces, each cut where a code point begins.
constexpr std::size_t kLargestIcuPiece = static_cast<std::size_t>(std::numeric_limits<int32_t>::max()) / 2;

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U; }

template <class Visit>
void forEachIcuPiece(std::string_view utf8, std::size_t largestPiece, Visit visit) {
  std::size_t offset = 0;
  while (utf8.size() - offset > largestPiece) {
    std::size_t cut = offset + largestPiece;
    // At most three continuation bytes follow a lead byte. A longer run is ill-formed and reads as one
    // U+FFFD per byte whichever way it is cut, so it is cut where it is, as is a piece that would be empty.
    std::size_t codePointStart = cut;
    for (int step = 0; step < 3 && codePointStart > offset && isContinuationByte(utf8[codePointStart]); ++step) {
      --codePointStart;
    }
    if (codePointStart > offset && !isContinuationByte(utf8[codePointStart])) cut = codePointStart;
    visit(utf8.substr(offset, cut - offset), offset);
    offset = cut;
  }
  visit(utf8.substr(offset), offset);
}

template <class Visit>
void forEachIcuPiece(std::string_view utf8, Visit visit) {
  forEachIcuPiece(utf8, kLargestIcuPiece, visit);
}

int32_t icuLength(std::string_view piece) { return static_cast<int32_t>(piece.size()); }

// Creating a character break iterator loads rule data, so each thread builds one once and every
// traversal works on its own clone, so traversals may nest. Nothing when ICU has no break rules.
std::unique_ptr<icu::BreakIterator> characterBreaks() {
  thread_local const std::unique_ptr<icu::BreakIterator> prototype = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> created(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) created.reset();
    return created;
  }();
  if (!prototype) return nullptr;
  return std::unique_ptr<icu::BreakIterator>(prototype->clone());
}

using OpenedText = std::unique_ptr<UText, decltype(&utext_close)>;

// A break iterator reading `piece` in place, so that its boundaries are byte offsets; nothing when ICU
// cannot provide one.
std::unique_ptr<icu::BreakIterator> characterBreaksOver(std::string_view piece, OpenedText& source) {
  UErrorCode status = U_ZERO_ERROR;
  source.reset(utext_openUTF8(nullptr, piece.data(), icuLength(piece), &status));
  if (U_FAILURE(status)) return nullptr;
  std::unique_ptr<icu::BreakIterator> breaks = characterBreaks();
  if (!breaks) return nullptr;
  breaks->setText(source.get(), status);
  if (U_FAILURE(status)) return nullptr;
  return breaks;
}

// The end of the code point that begins at `begin`: ill-formed bytes count as the one U+FFFD they become.
std::size_t nextCodePointEnd(std::string_view utf8, std::size_t begin) {
  std::int64_t next = static_cast<std::int64_t>(begin);
  UChar32 ignored = 0;
  U8_NEXT(utf8.data(), next, static_cast<std::int64_t>(utf8.size()), ignored);
  return static_cast<std::size_t>(next);
}

// Calls `visit(begin, end)` with the byte range of every user-perceived character. Should ICU have no
// break rules, every code point counts as a character, so the text is still covered whole.
template <class Visit>
void forEachBoundaryPair(std::string_view utf8, Visit visit) {
  forEachIcuPiece(utf8, [&](std::string_view piece, std::size_t offset) {
    if (piece.empty()) return;
    OpenedText source(nullptr, &utext_close);
    if (const auto breaks = characterBreaksOver(piece, source)) {
      int32_t begin = breaks->first();
      for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; begin = end, end = breaks->next()) {
        visit(offset + static_cast<std::size_t>(begin), offset + static_cast<std::size_t>(end));
      }
      return;
    }
    for (std::size_t begin = 0; begin < piece.size();) {
      const std::size_t end = nextCodePointEnd(piece, begin);
      visit(offset + begin, offset + end);
      begin = end;
    }
  });
}

}  // namespace

namespace detail {

void forEachPiece(std::string_view utf8, std::size_t largestPiece,
                  const std::function<void(std::string_view piece)>& visit) {
  forEachIcuPiece(utf8, largestPiece, [&](std::string_view piece, std::size_t) { visit(piece); });
}

}  // namespace detail

Expected<icu::UnicodeString> decodedUtf8(std::string_view utf8) {
  if (utf8.size() > kLargestIcuPiece) return Error("text longer than ICU can hold");
  return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), icuLength(utf8)));
}

std::string encodedUtf8(const icu::UnicodeString& text) {
  std::string utf8;
  text.toUTF8String(utf8);
  return utf8;
}

namespace {

enum class CaseMapping { lower, upper };

std::string caseMapped(std::string_view utf8, CaseMapping mapping) {
  std::string mapped;
  mapped.reserve(utf8.size());
  forEachIcuPiece(utf8, [&](std::string_view piece, std::size_t) {
    auto text = icu::UnicodeString::fromUTF8(icu::StringPiece(piece.data(), icuLength(piece)));
    if (mapping == CaseMapping::lower) {
      text.toLower(icu::Locale::getRoot());
    } else {
      text.toUpper(icu::Locale::getRoot());
    }
    text.toUTF8String(mapped);
  });
  return mapped;
}

}  // namespace

std::string lowercased(std::string_view utf8) { return caseMapped(utf8, CaseMapping::lower); }

std::string uppercased(std::string_view utf8) { return caseMapped(utf8, CaseMapping::upper); }

LeadingCodePoint leadingCodePointOf(std::string_view utf8) {
  if (utf8.empty()) return {};
  constexpr int32_t kLongestCodePoint = 4;
  const auto length = static_cast<int32_t>(std::min<std::size_t>(utf8.size(), kLongestCodePoint));
  int32_t offset = 0;
  UChar32 codePoint = 0;
  U8_NEXT_OR_FFFD(utf8.data(), offset, length, codePoint);
  constexpr uint32_t kLettersAndNumbers = U_GC_L_MASK | U_GC_N_MASK;
  return {.isLetter = u_isalpha(codePoint) != 0,
          .isLowercase = u_isULowercase(codePoint) != 0,
          .isLetterOrNumber = (U_GET_GC_MASK(codePoint) & kLettersAndNumbers) != 0,
          .isPunctuation = u_ispunct(codePoint) != 0,
          .isWhiteSpace = u_isUWhiteSpace(codePoint) != 0,
          .isBlank = u_isblank(codePoint) != 0};
}

std::string wellFormed(std::string_view utf8) {
  std::string formed;
  formed.reserve(utf8.size());
  forEachIcuPiece(utf8, [&](std::string_view piece, std::size_t) {
    icu::UnicodeString::fromUTF8(icu::StringPiece(piece.data(), icuLength(piece))).toUTF8String(formed);
  });
  return formed;
}

std::size_t characterCount(std::string_view utf8) {
  std::size_t count = 0;
  forEachBoundaryPair(utf8, [&count](std::size_t, std::size_t) { ++count; });
  return count;
}

void forEachCharacter(std::string_view utf8, const std::function<void(std::string_view character)>& visit) {
  forEachBoundaryPair(utf8, [&](std::size_t begin, std::size_t end) { visit(utf8.substr(begin, end - begin)); });
}

std::string trimmedWhitespaceAndNewlines(std::string_view utf8) {
  // Only the ends are read, code point by code point, so the text's length does not matter.
  const auto length = static_cast<std::int64_t>(utf8.size());
  std::int64_t begin = 0;
  while (begin < length) {
    std::int64_t next = begin;
    UChar32 codePoint = 0;
    U8_NEXT(utf8.data(), next, length, codePoint);
    if (codePoint < 0 || !u_isUWhiteSpace(codePoint)) break;
    begin = next;
  }
  std::int64_t end = length;
  while (end > begin) {
    // Back to the lead byte of the last code point; bytes that do not end one are ill-formed, not white space.
    std::int64_t start = end - 1;
    for (int step = 0; step < 3 && start > begin && isContinuationByte(utf8[std::size_t(start)]); ++step) --start;
    std::int64_t next = start;
    UChar32 codePoint = 0;
    U8_NEXT(utf8.data(), next, end, codePoint);
    if (next != end || codePoint < 0 || !u_isUWhiteSpace(codePoint)) break;
    end = start;
  }
  return wellFormed(utf8.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

bool isValidUTF8(std::string_view utf8) {
  // Without a substitution character ICU reports ill-formed input instead of repairing it;
  // measuring alone (no output buffer) answers overflow for well-formed text.
  bool valid = true;
  forEachIcuPiece(utf8, [&valid](std::string_view piece, std::size_t) {
    if (!valid) return;
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, piece.data(), icuLength(piece), &status);
    valid = U_SUCCESS(status) || status == U_BUFFER_OVERFLOW_ERROR;
  });
  return valid;
}

std::size_t utf16Length(std::string_view utf8) {
  std::size_t units = 0;
  forEachIcuPiece(utf8, [&units](std::string_view piece, std::size_t) {
    const auto decoded = icu::UnicodeString::fromUTF8(icu::StringPiece(piece.data(), icuLength(piece)));
    units += static_cast<std::size_t>(decoded.length());
  });
  return units;
}

std::string_view leadingWithinUtf16Units(std::string_view utf8, std::size_t maxUtf16Units) {
  const auto length = static_cast<std::int64_t>(utf8.size());
  // The last code point boundary within the budget; an ill-formed sequence counts as the one U+FFFD it becomes.
  std::int64_t end = 0;
  std::size_t units = 0;
  for (std::int64_t next = 0; next < length;) {
    UChar32 codePoint = 0;
    U8_NEXT(utf8.data(), next, length, codePoint);
    units += codePoint > 0xFFFF ? 2 : 1;
    if (units > maxUtf16Units) break;
    end = next;
  }
  if (end == length) return utf8;
  // Back to the start of the user-perceived character the cut falls in. The iterator reads the UTF-8 in
  // place and looks only around the cut, within the piece of text that holds it.
  std::string_view cutPiece;
  std::size_t cutOffset = 0;
  forEachIcuPiece(utf8, [&](std::string_view piece, std::size_t offset) {
    if (static_cast<std::size_t>(end) >= offset && static_cast<std::size_t>(end) < offset + piece.size()) {
      cutPiece = piece;
      cutOffset = offset;
    }
  });
  const auto local = static_cast<int32_t>(static_cast<std::size_t>(end) - cutOffset);
  OpenedText source(nullptr, &utext_close);
  const auto breaks = characterBreaksOver(cutPiece, source);
  if (!breaks) return utf8.substr(0, static_cast<std::size_t>(end));
  const int32_t boundary = breaks->isBoundary(local) ? local : breaks->preceding(local);
  return utf8.substr(0, cutOffset + static_cast<std::size_t>(std::max(boundary, 0)));
}

}  // namespace quillet::text
