#pragma once

#include <string_view>

#include <nlohmann/json.hpp>

#include "quillet-dictate/backend/AIFailure.h"

namespace quillet::dictate {

// A service's answer parsed as JSON, or the parser's own description of why it is not JSON.
inline AIOutcome<nlohmann::json> parseJsonAnswer(std::string_view body) {
  try {
    return nlohmann::json::parse(body);
  } catch (const nlohmann::json::parse_error& error) {
    return AIFailure{JsonParseFailure{error.what()}};
  }
}

}  // namespace quillet::dictate
