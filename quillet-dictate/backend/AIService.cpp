#include "quillet-dictate/backend/AIService.h"

#include "common/contract/BackendEndpoints.h"
#include "quillet-dictate/backend/ErrorBody.h"

namespace quillet::dictate {

std::optional<VessioError> AIService::throwIfHTTPError(int status, std::string_view body) {
  if (status == backend::status::kSuccess) return std::nullopt;
  if (status == backend::status::kSessionExpired) return VessioError::signedOut();
  auto message = extractErrorMessage(body);
  return VessioError::httpStatus(status, message ? std::move(*message) : "status " + std::to_string(status));
}

std::optional<std::string> AIService::extractErrorMessage(std::string_view body) {
  bool isObject = false;
  if (auto message = ErrorBody::firstStringMember(body, {"error"}, isObject)) return message;
  // Any other body, objects included, is the message as it stands.
  return ErrorBody::asText(body);
}

}  // namespace quillet::dictate
