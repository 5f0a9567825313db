#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quillet::platform::atspi {

// Translates between the two ways offsets into one text are counted: AT-SPI counts Unicode
// characters, AX counts UTF-16 units, and the two differ by one for every character beyond the Basic
// Multilingual Plane before the offset. Remembering only where those characters sit lets a long
// document's offsets be translated without reading the document again, as long as its edits are
// applied here as they happen.
class Utf16OffsetMap {
 public:
  // The map of `text` (UTF-8).
  static Utf16OffsetMap of(std::string_view text);

  [[nodiscard]] std::int64_t characterCount() const { return characterCount_; }

  // The UTF-16 offset of a character offset; offsets beyond the end count as the end.
  [[nodiscard]] std::int64_t utf16OffsetOf(std::int64_t characterOffset) const;

  // The character offset of a UTF-16 offset. An offset inside a surrogate pair moves to the start of its
  // character, or past it when `roundUp`. Nothing for a negative offset or one beyond the end.
  [[nodiscard]] std::optional<std::int64_t> characterOffsetOf(std::int64_t utf16Offset, bool roundUp) const;

  // `text` was inserted at `characterOffset`.
  void inserted(std::int64_t characterOffset, std::string_view text);
  // `length` characters were deleted at `characterOffset`.
  void deleted(std::int64_t characterOffset, std::int64_t length);

 private:
  // Character offsets of the characters that take two UTF-16 units, ascending.
  std::vector<std::int64_t> wideCharacters_;
  std::int64_t characterCount_ = 0;
};

}  // namespace quillet::platform::atspi
