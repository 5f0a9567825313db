#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quillet::dictate {

// The byte offset in UTF-8 `text` of a caret at `utf16Location`, the unit AX text ranges count in.
// A location beyond the end is the end; a location inside a user-perceived character (an emoji's
// surrogate pair, a letter with its accents) moves to that character's end, so an insertion there
// never splits it.
[[nodiscard]] std::size_t byteOffsetOfCaret(std::string_view text, std::int64_t utf16Location);

}  // namespace quillet::dictate
