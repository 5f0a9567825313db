#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/AppIdentity.h"

namespace quillet::platform::fake {

// Identities the test hands out: a process id maps to an identifier, or to none when absent.
class FakeAppIdentity final : public AppIdentity {
 public:
  std::optional<std::string> bundleIdOfProcess(int processId) override;
  int ownProcessId() override { return ownProcess; }

  std::map<int, std::string> bundleIds;
  int ownProcess = 1;
};

}  // namespace quillet::platform::fake
