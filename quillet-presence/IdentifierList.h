#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quillet::presence {

// The identifiers the host reads: absent and empty ones left out, each once, in plain ascending order.
[[nodiscard]] std::vector<std::string> sortedUniqueIdentifiers(const std::vector<std::optional<std::string>>& identifiers);
[[nodiscard]] std::vector<std::string> sortedUniqueIdentifiers(const std::vector<std::string>& identifiers);

}  // namespace quillet::presence
