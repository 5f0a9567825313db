#pragma once

#include <string>
#include <string_view>

#include "common/result/Expected.h"

// Standard Base64 (alphabet A–Z a–z 0–9 + /, "=" padding) as RFC 4648 section 4 defines it.
namespace quillet::text {

// The Base64 text of `bytes`, padded with "=" to a multiple of four characters.
std::string encodedBase64(std::string_view bytes);

// The bytes that strict Base64 `encoded` stands for, or why it is not Base64: a length
// that is not a multiple of four, a character outside the alphabet (white space included), or
// "=" anywhere but as one or two closing characters. The unused low bits of a padded last
// group are ignored, as RFC 4648 section 3.5 allows, since they cannot change the bytes.
Expected<std::string> decodedBase64(std::string_view encoded);

}  // namespace quillet::text
