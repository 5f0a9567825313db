#pragma once

#include <vector>

#include "platform/ApplicationActivation.h"

namespace quillet::platform::fake {

// Records which processes were asked to come to the front, in order.
class FakeApplicationActivation final : public ApplicationActivation {
 public:
  void activate(int processId) override { activated.push_back(processId); }

  std::vector<int> activated;
};

}  // namespace quillet::platform::fake
