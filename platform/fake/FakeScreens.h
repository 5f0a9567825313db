#pragma once

#include <vector>

#include "platform/Screens.h"

namespace quillet::platform::fake {

// The displays a test attaches; none until it adds some.
class FakeScreens final : public Screens {
 public:
  std::vector<Screen> screens() override { return attached; }

  // The primary screen first.
  std::vector<Screen> attached;
};

}  // namespace quillet::platform::fake
