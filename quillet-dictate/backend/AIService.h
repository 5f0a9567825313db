#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "quillet-dictate/backend/VessioError.h"

namespace quillet::dictate {

// The agent's client of the backend's AI functions. So far it holds the conventions by which
// an answer becomes an error; the requests themselves build on them.
class AIService {
 public:
  // The error an AI function's answer stands for, or nothing when it succeeded. Only status 200
  // succeeds (201 and 204 are errors); 401 means the session expired, whatever the body says.
  static std::optional<VessioError> throwIfHTTPError(int status, std::string_view body);

  // The server's message: the string member "error" of a JSON object body, else the whole body
  // when it is valid UTF-8, else nothing.
  static std::optional<std::string> extractErrorMessage(std::string_view body);
};

}  // namespace quillet::dictate
