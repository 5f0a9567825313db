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
#include <stdexcept>

#include "common/text/IcuText.h"

namespace quillet::text {
namespace {

// ICU measures text with int32_t; longer text would be silently cut short, so it is refused.
int32_t icuLength(std::string_view utf8) {
  if (utf8.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    throw std::length_error("text longer than ICU can address");
  }
  return static_cast<int32_t>(utf8.size());
}


// Creating a character break iterator loads rule data, so each thread builds one once and every
// traversal works on its own clone: traversals may then nest or throw without disturbing another.
std::unique_ptr<icu::BreakIterator> characterBreaks() {
  thread_local const std::unique_ptr<icu::BreakIterator> prototype = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> created(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !created) {
      throw std::runtime_error(std::string("ICU character break iterator: ") + u_errorName(status));
    }
    return created;
  }();
  return std::unique_ptr<icu::BreakIterator>(prototype->clone());
}

// Calls `visit(begin, end)` with the byte range of every user-perceived character. The iterator
// reads the UTF-8 in place, so its boundaries are byte offsets into `utf8`.
template <class Visit>
void forEachBoundaryPair(std::string_view utf8, Visit visit) {
  if (utf8.empty()) return;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UText, decltype(&utext_close)> source(utext_openUTF8(nullptr, utf8.data(), icuLength(utf8), &status),
                                                        &utext_close);
  const std::unique_ptr<icu::BreakIterator> breaks = characterBreaks();
  if (!breaks) throw std::runtime_error("ICU character break iterator: clone failed");
  breaks->setText(source.get(), status);
  if (U_FAILURE(status)) throw std::runtime_error(std::string("ICU character breaks: ") + u_errorName(status));
  int32_t begin = breaks->first();
  for (int32_t end = breaks->next(); end != icu::BreakIterator::DONE; begin = end, end = breaks->next()) {
    visit(static_cast<std::size_t>(begin), static_cast<std::size_t>(end));
  }
}

}  // namespace

icu::UnicodeString decodedUtf8(std::string_view utf8) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), icuLength(utf8)));
}

std::string encodedUtf8(const icu::UnicodeString& text) {
  std::string utf8;
  text.toUTF8String(utf8);
  return utf8;
}

std::string lowercased(std::string_view utf8) {
  return encodedUtf8(decodedUtf8(utf8).toLower(icu::Locale::getRoot()));
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
  const icu::UnicodeString text = decodedUtf8(utf8);
  int32_t begin = 0;
  int32_t end = text.length();
  while (begin < end && u_isUWhiteSpace(text.char32At(begin))) begin = text.moveIndex32(begin, 1);
  while (end > begin) {
    const int32_t last = text.moveIndex32(end, -1);
    if (!u_isUWhiteSpace(text.char32At(last))) break;
    end = last;
  }
  return encodedUtf8(text.tempSubStringBetween(begin, end));
}

bool isValidUTF8(std::string_view utf8) {
  // Without a substitution character ICU reports ill-formed input instead of repairing it;
  // measuring alone (no output buffer) answers overflow for well-formed text.
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, utf8.data(), icuLength(utf8), &status);
  return U_SUCCESS(status) || status == U_BUFFER_OVERFLOW_ERROR;
}

std::size_t utf16Length(std::string_view utf8) { return static_cast<std::size_t>(decodedUtf8(utf8).length()); }

std::string_view leadingWithinUtf16Units(std::string_view utf8, std::size_t maxUtf16Units) {
  const int32_t length = icuLength(utf8);
  // The last code point boundary within the budget; an ill-formed sequence counts as the one U+FFFD it becomes.
  int32_t end = 0;
  std::size_t units = 0;
  for (int32_t next = 0; next < length;) {
    UChar32 codePoint = 0;
    U8_NEXT(utf8.data(), next, length, codePoint);
    units += codePoint > 0xFFFF ? 2 : 1;
    if (units > maxUtf16Units) break;
    end = next;
  }
  if (end == length) return utf8;
  // Back to the start of the user-perceived character the cut falls in; the iterator reads the UTF-8 in
  // place and looks only around the cut.
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UText, decltype(&utext_close)> source(utext_openUTF8(nullptr, utf8.data(), length, &status),
                                                        &utext_close);
  const std::unique_ptr<icu::BreakIterator> breaks = characterBreaks();
  breaks->setText(source.get(), status);
  if (U_FAILURE(status)) throw std::runtime_error(std::string("ICU character breaks: ") + u_errorName(status));
  const int32_t boundary = breaks->isBoundary(end) ? end : breaks->preceding(end);
  return utf8.substr(0, static_cast<std::size_t>(std::max(boundary, 0)));
}

}  // namespace quillet::text
