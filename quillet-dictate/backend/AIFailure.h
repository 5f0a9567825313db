#pragma once

#include <string>
#include <utility>
#include <variant>

#include "common/result/Expected.h"
#include "platform/HttpClient.h"
#include "quillet-dictate/backend/VessioAuthError.h"
#include "quillet-dictate/backend/VessioError.h"

namespace quillet::dictate {

// A body that is not JSON at all, described by the parser.
struct JsonParseFailure {
  std::string description;
};

// What an AI call can end in: the client's own error, the failed refresh of an expired session, or
// the transport's or parser's failure carried unchanged.
struct AIFailure {
  std::variant<VessioError, VessioAuthError, platform::HttpTransportError, JsonParseFailure> error;

  // The text a caller shows.
  [[nodiscard]] std::string description() const;

  // The client's own error, when it is one.
  [[nodiscard]] const VessioError* vessioError() const { return std::get_if<VessioError>(&error); }
};

// A result or the failure that took its place.
template <class Value>
using AIOutcome = Expected<Value, AIFailure>;

// The server's answer, whatever its status, or the transport's failure in its place.
inline AIOutcome<platform::HttpResponse> answerOf(platform::HttpResult result) {
  if (result.failed()) return AIFailure{std::move(result).error()};
  return std::move(result).value();
}

}  // namespace quillet::dictate
