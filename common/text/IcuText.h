#pragma once

#include <string>
#include <string_view>

#include <unicode/unistr.h>

// The bridge between the project's UTF-8 strings and ICU's UTF-16 text, for code that works with
// ICU directly (regular expressions, case mapping). Ill-formed UTF-8 becomes U+FFFD.
namespace quillet::text {

// Throws std::length_error for text longer than ICU can address (2 GiB), which it would otherwise cut short.
icu::UnicodeString decodedUtf8(std::string_view utf8);

std::string encodedUtf8(const icu::UnicodeString& text);

}  // namespace quillet::text
