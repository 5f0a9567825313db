#include "quillet-capture/pill/PillPlacement.h"

#include <charconv>
#include <cmath>

namespace quillet::capture {

namespace {

constexpr double kCornerTolerance = 4;
constexpr double kDefaultLift = 24;

void skipSpaces(std::string_view& text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
}

bool take(std::string_view& text, char expected) {
  skipSpaces(text);
  if (text.empty() || text.front() != expected) return false;
  text.remove_prefix(1);
  return true;
}

std::optional<double> takeNumber(std::string_view& text) {
  skipSpaces(text);
  double number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || !std::isfinite(number)) return std::nullopt;
  text.remove_prefix(std::size_t(end - text.data()));
  return number;
}

}  // namespace

bool PillPlacement::isInCorner(const platform::Screen& main, PillOrigin origin) {
  return !(origin.x > main.visibleFrame.minX() + kCornerTolerance || origin.y > main.visibleFrame.minY() + kCornerTolerance);
}

std::optional<PillOrigin> PillPlacement::initialOrigin(const std::vector<platform::Screen>& screens,
                                                       const std::optional<std::string>& remembered) {
  if (screens.empty()) return std::nullopt;
  const platform::Screen& main = screens.front();
  if (const auto stored = remembered ? parsePoint(*remembered) : std::nullopt; stored && !isInCorner(main, *stored)) {
    const platform::ScreenRect pill{stored->x, stored->y, kWidth, kHeight};
    for (const auto& screen : screens) {
      if (screen.visibleFrame.intersects(pill)) return stored;
    }
  }
  return PillOrigin{main.visibleFrame.midX() - kWidth / 2, main.visibleFrame.minY() + kDefaultLift};
}

std::optional<std::string> PillPlacement::rememberedText(const std::vector<platform::Screen>& screens,
                                                         PillOrigin origin) {
  if (screens.empty() || isInCorner(screens.front(), origin)) return std::nullopt;
  return pointText(origin);
}

std::string PillPlacement::pointText(PillOrigin origin) {
  // The shortest text that reads back as the same number.
  const auto number = [](double value) {
    char digits[32];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
    return error == std::errc() ? std::string(digits, end) : std::string("0");
  };
  return "{" + number(origin.x) + ", " + number(origin.y) + "}";
}

std::optional<PillOrigin> PillPlacement::parsePoint(std::string_view text) {
  PillOrigin origin;
  if (!take(text, '{')) return std::nullopt;
  const auto x = takeNumber(text);
  if (!x || !take(text, ',')) return std::nullopt;
  const auto y = takeNumber(text);
  if (!y || !take(text, '}')) return std::nullopt;
  skipSpaces(text);
  if (!text.empty()) return std::nullopt;
  return PillOrigin{*x, *y};
}

}  // namespace quillet::capture
