#include "quillet-dictate/backend/AIService.h"

#include <nlohmann/json.hpp>

#include "common/contract/BackendEndpoints.h"
#include "common/text/UnicodeText.h"

namespace quillet::dictate {

std::optional<VessioError> AIService::throwIfHTTPError(int status, std::string_view body) {
  if (status == backend::status::kSuccess) return std::nullopt;
  if (status == backend::status::kSessionExpired) return VessioError::signedOut();
  auto message = extractErrorMessage(body);
  return VessioError::httpStatus(status, message ? std::move(*message) : "status " + std::to_string(status));
}

std::optional<std::string> AIService::extractErrorMessage(std::string_view body) {
  const auto json = nlohmann::json::parse(body, nullptr, false);
  if (json.is_object()) {
    if (const auto error = json.find("error"); error != json.end() && error->is_string()) {
      return error->get<std::string>();
    }
  }
  if (!text::isValidUTF8(body)) return std::nullopt;
  return std::string(body);
}

}  // namespace quillet::dictate
