#pragma once

#include <string_view>

namespace quillet::capture {

// The codes an "error" event carries, in the host's vocabulary. Some are never emitted but
// stay in the vocabulary the host understands.
enum class ErrorCode {
  permissionDenied,
  noMicrophone,
  captureFailed,
  transcribeFailed,
  invalidCommand,
  localeNotSupported,
};

// The upper snake case text written as "code" ("INVALID_COMMAND").
[[nodiscard]] std::string_view rawValue(ErrorCode code);

}  // namespace quillet::capture
