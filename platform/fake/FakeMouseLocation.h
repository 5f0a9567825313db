#pragma once

#include <optional>

#include "platform/MouseLocation.h"

namespace quillet::platform::fake {

// A pointer the test places.
class FakeMouseLocation final : public MouseLocation {
 public:
  std::optional<ScreenPoint> mouseLocation() override { return location; }
  std::optional<ScreenPoint> location;
};

}  // namespace quillet::platform::fake
