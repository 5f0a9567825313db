#pragma once

#include <string>
#include <string_view>

#include "common/result/Expected.h"

namespace quillet::dictate {

// Where a backend request goes: the configured origin with the endpoint's path appended as plain
// text. Nothing is repaired (a trailing slash on the origin gives a double slash), but an address
// that cannot be one is refused before any request is made.
struct BackendAddress {
  // The joined address; a failure when it is empty or holds blanks or control characters.
  static Expected<std::string> join(std::string_view origin, std::string_view path);
};

}  // namespace quillet::dictate
