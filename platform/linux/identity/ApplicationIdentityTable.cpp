#include "platform/linux/identity/ApplicationIdentityTable.h"

namespace quillet::platform::identity {

// Placeholder until the table lands: nothing is known, every name keeps its own id.
std::optional<std::string> ApplicationIdentityTable::knownBundleId(std::string_view) { return std::nullopt; }

std::optional<std::string> ApplicationIdentityTable::bundleIdFor(std::string_view linuxName) {
  if (linuxName.empty()) return std::nullopt;
  return std::string(linuxName);
}

}  // namespace quillet::platform::identity
