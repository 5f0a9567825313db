#pragma once

#include <optional>
#include <vector>

#include "platform/ScreenPoint.h"
#include "platform/ScreenRect.h"
#include "platform/Screens.h"

namespace quillet::dictate {

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
  [[nodiscard]] static std::optional<platform::ScreenPoint> panelOrigin(const std::vector<platform::Screen>& screens,
                                                                        const std::optional<platform::ScreenRect>& anchor);

  // Just above and centred on the mouse, kept 8 points inside the usable part of the mouse's screen.
  [[nodiscard]] static std::optional<platform::ScreenPoint> promptOrigin(const std::vector<platform::Screen>& screens,
                                                                         platform::ScreenPoint mouse);
};

}  // namespace quillet::dictate
