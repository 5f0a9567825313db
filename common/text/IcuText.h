#pragma once

#include <string>
#include <string_view>

#include <unicode/unistr.h>

#include "common/result/Expected.h"

// The bridge between the project's UTF-8 strings and ICU's UTF-16 text, for code that works with
// ICU directly (regular expressions, case mapping). Ill-formed UTF-8 becomes U+FFFD.
namespace quillet::text {

// Fails for text longer than ICU can hold (1 GiB here), which it would otherwise cut short.
Expected<icu::UnicodeString> decodedUtf8(std::string_view utf8);

std::string encodedUtf8(const icu::UnicodeString& text);

}  // namespace quillet::text
