#include "quillet-dictate/accessibility/CaretOffset.h"

#include "common/text/UnicodeText.h"

namespace quillet::dictate {

std::size_t byteOffsetOfCaret(std::string_view text, std::int64_t utf16Location) {
  std::size_t byteOffset = 0;
  std::int64_t utf16Offset = 0;
  text::forEachCharacter(text, [&](std::string_view character) {
    if (utf16Offset >= utf16Location) return;
    utf16Offset += static_cast<std::int64_t>(text::utf16Length(character));
    byteOffset += character.size();
  });
  return byteOffset;
}

}  // namespace quillet::dictate
