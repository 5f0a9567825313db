#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace quillet::test {

// The 16-bit little-endian samples of `bytes` from `offset` on (44 skips a WAV chunk's header).
inline std::vector<std::int16_t> samplesOfPcm16(std::span<const std::uint8_t> bytes, std::size_t offset = 0) {
  std::vector<std::int16_t> samples;
  for (std::size_t index = offset; index + 1 < bytes.size(); index += 2) {
    samples.push_back(std::int16_t(std::uint16_t(bytes[index]) | std::uint16_t(bytes[index + 1] << 8)));
  }
  return samples;
}

inline std::vector<std::int16_t> samplesOfPcm16(std::string_view bytes, std::size_t offset = 0) {
  return samplesOfPcm16(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), offset);
}

}  // namespace quillet::test
