#include "common/text/UuidString.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>

namespace quillet::text {

std::string newUuidString() {
  // One generator per thread, seeded from the system's entropy source.
  thread_local std::mt19937_64 generator{std::random_device{}()};
  std::array<std::uint8_t, 16> bytes{};
  for (std::size_t index = 0; index < bytes.size(); index += 8) {
    std::uint64_t random = generator();
    for (std::size_t offset = 0; offset < 8; ++offset) bytes[index + offset] = std::uint8_t(random >> (8 * offset));
  }
  bytes[6] = std::uint8_t((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = std::uint8_t((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  std::string text;
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  for (std::size_t index = 0; index < bytes.size(); ++index) {
    if (index == 4 || index == 6 || index == 8 || index == 10) text.push_back('-');
    text.push_back(kHexDigits[bytes[index] >> 4]);
    text.push_back(kHexDigits[bytes[index] & 0x0F]);
  }
  return text;
}

}  // namespace quillet::text
