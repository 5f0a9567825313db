#include "quillet-dictate/backend/ErrorBody.h"

#include <nlohmann/json.hpp>

#include "common/text/UnicodeText.h"

namespace quillet::dictate {

std::optional<std::string> ErrorBody::firstStringMember(std::string_view body,
                                                        std::initializer_list<std::string_view> members,
                                                        bool& isObject) {
  const auto json = nlohmann::json::parse(body, nullptr, false);
  isObject = json.is_object();
  if (!isObject) return std::nullopt;
  for (const auto member : members) {
    if (const auto value = json.find(member); value != json.end() && value->is_string()) {
      return value->get<std::string>();
    }
  }
  return std::nullopt;
}

std::optional<std::string> ErrorBody::asText(std::string_view body) {
  if (!text::isValidUTF8(body)) return std::nullopt;
  return std::string(body);
}

}  // namespace quillet::dictate
