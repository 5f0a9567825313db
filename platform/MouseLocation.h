#pragma once

#include <optional>

#include "platform/ScreenPoint.h"

namespace quillet::platform {

// Where the mouse pointer is. Main thread only.
class MouseLocation {
 public:
  virtual ~MouseLocation() = default;

  // The pointer's position in bottom-left-origin screen points; nothing when it cannot be read.
  [[nodiscard]] virtual std::optional<ScreenPoint> mouseLocation() = 0;
};

}  // namespace quillet::platform
