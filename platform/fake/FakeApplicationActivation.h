#pragma once

#include <cstdint>
#include <vector>

#include "platform/ApplicationActivation.h"

namespace quillet::platform::fake {

// Records which processes were asked to come to the front, in order.
class FakeApplicationActivation final : public ApplicationActivation {
 public:
  void activate(int processId) override { activated.push_back(processId); }
  void activateWindow(std::uint64_t windowId) override { activatedWindows.push_back(windowId); }

  std::vector<int> activated;
  std::vector<std::uint64_t> activatedWindows;
};

}  // namespace quillet::platform::fake
