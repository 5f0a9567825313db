#include "quillet-capture/program/EnvironmentLookup.h"

#include <cstdlib>

namespace quillet::capture {

std::optional<std::string> processEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace quillet::capture
