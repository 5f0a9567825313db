#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quillet::test {

// `piece` written `times` times in a row, for texts of a chosen length.
inline std::string repeated(std::string_view piece, std::size_t times) {
  std::string text;
  text.reserve(piece.size() * times);
  for (std::size_t index = 0; index < times; ++index) text += piece;
  return text;
}

}  // namespace quillet::test
