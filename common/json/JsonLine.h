#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace quillet::json {

// The compact JSON text of `value` for one output line, with every "/" written as "\/" as the
// host's readers expect; nothing when a string in it is not valid UTF-8. No line feed is added.
[[nodiscard]] std::optional<std::string> jsonLineText(const nlohmann::ordered_json& value);

}  // namespace quillet::json
