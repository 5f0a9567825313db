#include "common/text/Base64.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace quillet::text {
namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPadding = '=';
constexpr std::int8_t kNotInAlphabet = -1;

// The six-bit value of each byte that is a Base64 digit, kNotInAlphabet for every other byte.
constexpr std::array<std::int8_t, 256> digitValues() {
  std::array<std::int8_t, 256> values{};
  values.fill(kNotInAlphabet);
  for (std::size_t index = 0; index < kAlphabet.size(); ++index) {
    values[static_cast<unsigned char>(kAlphabet[index])] = static_cast<std::int8_t>(index);
  }
  return values;
}

constexpr std::array<std::int8_t, 256> kDigitValues = digitValues();

char digit(std::uint32_t group, int shift) { return kAlphabet[(group >> shift) & 0x3F]; }

char byteAt(std::uint32_t group, int shift) { return static_cast<char>((group >> shift) & 0xFF); }

}  // namespace

std::string encodedBase64(std::string_view bytes) {
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t start = 0; start < bytes.size(); start += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - start);
    std::uint32_t group = 0;
    for (std::size_t offset = 0; offset < 3; ++offset) {
      const auto byte = offset < count ? static_cast<unsigned char>(bytes[start + offset]) : 0u;
      group = (group << 8) | byte;
    }
    encoded += digit(group, 18);
    encoded += digit(group, 12);
    encoded += count > 1 ? digit(group, 6) : kPadding;
    encoded += count > 2 ? digit(group, 0) : kPadding;
  }
  return encoded;
}

Expected<std::string> decodedBase64(std::string_view encoded) {
  if (encoded.size() % 4 != 0) return Error("Base64 text comes in groups of four characters");
  std::size_t paddingCount = 0;
  while (paddingCount < encoded.size() && encoded[encoded.size() - 1 - paddingCount] == kPadding) ++paddingCount;
  if (paddingCount > 2) return Error("Base64 text ends in at most two \"=\"");
  const std::string_view digits = encoded.substr(0, encoded.size() - paddingCount);

  std::string bytes;
  bytes.reserve(digits.size() * 3 / 4);
  std::uint32_t group = 0;
  int bitCount = 0;
  for (const char character : digits) {
    // Padding before the end is not in the alphabet, so it is refused here too.
    const std::int8_t value = kDigitValues[static_cast<unsigned char>(character)];
    if (value == kNotInAlphabet) return Error("not a Base64 character");
    group = (group << 6) | static_cast<std::uint32_t>(value);
    bitCount += 6;
    if (bitCount >= 8) {
      bitCount -= 8;
      bytes += byteAt(group, bitCount);
    }
  }
  return bytes;
}

}  // namespace quillet::text
