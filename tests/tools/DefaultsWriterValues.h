#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DefaultsStore.h"

namespace quillet::test {

// The key quillet-defaults-writer stores its index-th value under.
inline std::string defaultsWriterKey(std::string_view prefix, int index) {
  return std::string(prefix) + "." + std::to_string(index);
}

// The value quillet-defaults-writer stores for a non-negative index: the types take turns, so a
// concurrent writer that mixed up rows would show up as a wrong type as well as a wrong value.
inline platform::DefaultsValue expectedDefaultsValue(int index) {
  constexpr int typeCount = 5;
  switch (index % typeCount) {
    case 0:
      return "value-" + std::to_string(index);
    case 1:
      return index % 2 == 0;
    case 2:
      return std::int64_t{index};
    case 3:
      return index + 0.5;
    default:
      return platform::DefaultsData{0x00, static_cast<std::uint8_t>(index % 256), 0x00, 0xFF};
  }
}

}  // namespace quillet::test
