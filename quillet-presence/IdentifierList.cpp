#include "quillet-presence/IdentifierList.h"

#include <algorithm>

namespace quillet::presence {

std::vector<std::string> sortedUniqueIdentifiers(const std::vector<std::string>& identifiers) {
  std::vector<std::string> result;
  result.reserve(identifiers.size());
  for (const auto& identifier : identifiers) {
    if (!identifier.empty()) result.push_back(identifier);
  }
  std::sort(result.begin(), result.end());
  result.erase(std::unique(result.begin(), result.end()), result.end());
  return result;
}

std::vector<std::string> sortedUniqueIdentifiers(const std::vector<std::optional<std::string>>& identifiers) {
  std::vector<std::string> present;
  present.reserve(identifiers.size());
  for (const auto& identifier : identifiers) {
    if (identifier) present.push_back(*identifier);
  }
  return sortedUniqueIdentifiers(present);
}

}  // namespace quillet::presence
