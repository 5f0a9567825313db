#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quillet::capture {

// Reads one environment variable; nothing when it is not set. Injected so tests never touch the
// process environment.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The process environment.
[[nodiscard]] std::optional<std::string> processEnvironment(const char* name);

}  // namespace quillet::capture
