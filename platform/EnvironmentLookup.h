#pragma once

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace quillet::platform {

// Reads one environment variable; nothing when it is not set. Passed in so tests never touch the
// process environment.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The process environment, for the production wiring.
[[nodiscard]] inline std::optional<std::string> processEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace quillet::platform
