#include "quillet-dictate/hud/HUDPlacement.h"

#include <algorithm>

namespace quillet::dictate {
namespace {

constexpr double kMargin = 8;
// How far the prompt sits from the mouse, upwards in screen points.
constexpr double kPromptAboveMouse = 24;
constexpr double kPanelBelowTop = 160;

// The screen whose frame holds the point, else the primary one.
const platform::Screen& screenAt(const std::vector<platform::Screen>& screens, double x, double y) {
  const auto found = std::find_if(screens.begin(), screens.end(),
                                  [&](const platform::Screen& screen) { return screen.frame.contains(x, y); });
  return found != screens.end() ? *found : screens.front();
}

}  // namespace

std::optional<platform::ScreenPoint> HUDPlacement::panelOrigin(const std::vector<platform::Screen>& screens,
                                                               const std::optional<platform::ScreenRect>& anchor) {
  if (screens.empty()) return std::nullopt;
  if (!anchor) {
    const platform::Screen& primary = screens.front();
    // The top edge, not the origin, goes 160 points below the usable top, so the whole panel is on the screen;
    // a screen too short for that keeps the panel's bottom inside it.
    const double y = std::max(primary.visibleFrame.maxY() - kPanelBelowTop - kPanelHeight,
                              primary.visibleFrame.minY() + kMargin);
    return platform::ScreenPoint{primary.frame.minX() + (primary.frame.width - kPanelWidth) * 0.5, y};
  }
  const platform::ScreenRect& visible = screenAt(screens, anchor->midX(), anchor->midY()).visibleFrame;
  const double x = std::max(visible.minX() + kMargin,
                            std::min(visible.maxX() - kPanelWidth - kMargin, anchor->midX() - kPanelWidth / 2));
  double y = anchor->minY() - kPanelHeight - kMargin;
  if (y < visible.minY() + kMargin) y = anchor->maxY() + kMargin;
  return platform::ScreenPoint{x, y};
}

std::optional<platform::ScreenPoint> HUDPlacement::promptOrigin(const std::vector<platform::Screen>& screens,
                                                                platform::ScreenPoint mouse) {
  const double mouseX = mouse.x;
  const double mouseY = mouse.y;
  if (screens.empty()) return std::nullopt;
  const platform::ScreenRect& visible = screenAt(screens, mouseX, mouseY).visibleFrame;
  const double x = std::min(std::max(mouseX - kPromptWidth / 2, visible.minX() + kMargin),
                            visible.maxX() - kPromptWidth - kMargin);
  const double y = std::min(std::max(mouseY + kPromptAboveMouse, visible.minY() + kMargin),
                            visible.maxY() - kPromptHeight - kMargin);
  return platform::ScreenPoint{x, y};
}

}  // namespace quillet::dictate
