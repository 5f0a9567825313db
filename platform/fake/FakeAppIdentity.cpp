#include "platform/fake/FakeAppIdentity.h"

namespace quillet::platform::fake {

std::optional<std::string> FakeAppIdentity::bundleIdOfProcess(int processId) {
  const auto found = bundleIds.find(processId);
  if (found == bundleIds.end()) return std::nullopt;
  return found->second;
}

}  // namespace quillet::platform::fake
