#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Screens.h"

namespace quillet::capture {

// A window origin in bottom-left-origin screen points.
struct PillOrigin {
  double x = 0;
  double y = 0;

  bool operator==(const PillOrigin&) const = default;
};

// Where the pill goes and which of its positions are worth remembering.
class PillPlacement {
 public:
  static constexpr double kWidth = 442;
  static constexpr double kHeight = 98;
  static constexpr const char* kDefaultsKey = "capturePillOrigin3";

  // The origin to show the pill at: the remembered one while some screen shows part of the pill and it
  // is not in the main screen's bottom-left corner, else centred 24 points above the usable bottom.
  // Nothing without a screen (the pill stays where it is).
  [[nodiscard]] static std::optional<PillOrigin> initialOrigin(const std::vector<platform::Screen>& screens,
                                                               const std::optional<std::string>& remembered);

  // The text to remember for a pill hidden at `origin`; nothing in the corner or without a screen.
  [[nodiscard]] static std::optional<std::string> rememberedText(const std::vector<platform::Screen>& screens,
                                                                 PillOrigin origin);

  // The point's text form shared with the host, "{x, y}".
  [[nodiscard]] static std::string pointText(PillOrigin origin);
  [[nodiscard]] static std::optional<PillOrigin> parsePoint(std::string_view text);

 private:
  [[nodiscard]] static bool isInCorner(const platform::Screen& main, PillOrigin origin);
};

}  // namespace quillet::capture
