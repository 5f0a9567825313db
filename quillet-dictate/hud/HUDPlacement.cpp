#include "quillet-dictate/hud/HUDPlacement.h"

#include <algorithm>

namespace quillet::dictate {
namespace {

constexpr double kMargin = 8;
// How far the prompt sits from the mouse, upwards in screen points.
constexpr double kPromptAboveMouse = 24;
constexpr double kPanelBelowTop = 160;

}  // namespace

std::optional<platform::ScreenPoint> HUDPlacement::panelOrigin(const std::vector<platform::Screen>& screens,
                                                               const std::optional<platform::ScreenRect>& anchor) {
  if (screens.empty()) return std::nullopt;
  if (!anchor) {
    const platform::Screen& primary = screens.front();
    // The top edge, not the origin, goes 160 points below the usable top, so the whole panel is on the screen;
    // a screen too short for that keeps the panel's bottom inside it.
    const double y =
        std::max(primary.visibleFrame.maxY() - kPanelBelowTop - kPanelHeight, primary.visibleFrame.minY() + kMargin);
    return platform::ScreenPoint{primary.frame.minX() + (primary.frame.width - kPanelWidth) * 0.5, y};
  }
  const platform::ScreenRect& visible =
      platform::screenContaining(screens, anchor->midX(), anchor->midY()).visibleFrame;
  const double x = std::max(visible.minX() + kMargin,
                            std::min(visible.maxX() - kPanelWidth - kMargin, anchor->midX() - kPanelWidth / 2));
  double y = anchor->minY() - kPanelHeight - kMargin;
  if (y < visible.minY() + kMargin) y = anchor->maxY() + kMargin;
  return platform::ScreenPoint{x, y};
}

std::optional<platform::ScreenPoint> HUDPlacement::promptOrigin(const std::vector<platform::Screen>& screens,
                                                                platform::ScreenPoint mouse) {
  if (screens.empty()) return std::nullopt;
  const platform::ScreenRect& visible = platform::screenContaining(screens, mouse.x, mouse.y).visibleFrame;
  const double x =
      std::min(std::max(mouse.x - kPromptWidth / 2, visible.minX() + kMargin), visible.maxX() - kPromptWidth - kMargin);
  const double y = std::min(std::max(mouse.y + kPromptAboveMouse, visible.minY() + kMargin),
                            visible.maxY() - kPromptHeight - kMargin);
  return platform::ScreenPoint{x, y};
}

}  // namespace quillet::dictate
