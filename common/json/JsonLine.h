#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "common/result/Expected.h"

namespace quillet::json {

// The compact JSON text of `value` for one output line, with every "/" written as "\/" as the
// host's readers expect; a failure when a string in it is not valid UTF-8. No line feed is added.
[[nodiscard]] Expected<std::string> jsonLineText(const nlohmann::ordered_json& value);

}  // namespace quillet::json
