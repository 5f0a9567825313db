#pragma once

namespace quillet::platform {

// A point in bottom-left-origin screen points, y growing upwards, as ScreenRect uses.
struct ScreenPoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const ScreenPoint&, const ScreenPoint&) = default;
};

}  // namespace quillet::platform
