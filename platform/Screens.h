#pragma once

#include <optional>
#include <vector>

#include "platform/ScreenRect.h"

namespace quillet::platform {

// One display as windows are placed on it.
struct Screen {
  ScreenRect frame;
  // The part of the frame that panels and docks leave free for windows.
  ScreenRect visibleFrame;

  friend bool operator==(const Screen&, const Screen&) = default;
};

// The screen whose frame holds the point, else the primary one (the first); `screens` must not be empty.
[[nodiscard]] inline const Screen& screenContaining(const std::vector<Screen>& screens, double x, double y) {
  for (const Screen& screen : screens) {
    if (screen.frame.contains(x, y)) return screen;
  }
  return screens.front();
}

// The attached displays, in bottom-left-origin screen points. Main thread only.
class Screens {
 public:
  virtual ~Screens() = default;

  // Every attached screen, the primary one first; empty when none is attached.
  virtual std::vector<Screen> screens() = 0;

  // The primary screen's height, which turns top-left coordinates into bottom-left ones; nothing without a screen.
  [[nodiscard]] std::optional<double> primaryScreenHeight() {
    const auto all = screens();
    if (all.empty()) return std::nullopt;
    return all.front().frame.height;
  }
};

}  // namespace quillet::platform
