#pragma once

#include <optional>
#include <vector>

#include "platform/ScreenRect.h"
#include "platform/Screens.h"

namespace quillet::dictate {

// A window origin (its bottom-left corner) in bottom-left-origin screen points.
struct PanelOrigin {
  double x = 0;
  double y = 0;

  friend bool operator==(const PanelOrigin&, const PanelOrigin&) = default;
};

// Where the HUD panel and the no-target prompt go. Screens come primary first; without any, nothing moves.
class HUDPlacement {
 public:
  static constexpr double kPanelWidth = 580;
  static constexpr double kPanelHeight = 510;
  static constexpr double kPromptWidth = 320;
  static constexpr double kPromptHeight = 52;

  // Below `anchor` (the capsule's or the field's frame), centred on it and kept 8 points inside the usable part
  // of the screen that holds the anchor's centre, or above the anchor when there is no room below. Without an
  // anchor, centred on the primary screen with its top 160 points below the usable top.
  [[nodiscard]] static std::optional<PanelOrigin> panelOrigin(const std::vector<platform::Screen>& screens,
                                                              const std::optional<platform::ScreenRect>& anchor);

  // Just below and centred on the mouse, kept 8 points inside the usable part of the mouse's screen.
  [[nodiscard]] static std::optional<PanelOrigin> promptOrigin(const std::vector<platform::Screen>& screens,
                                                               double mouseX, double mouseY);
};

}  // namespace quillet::dictate
