#include "quillet-dictate/accessibility/EstimatedTextBounds.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "common/text/UnicodeText.h"

namespace quillet::dictate {

namespace {

// The "not found" location some applications answer instead of a range.
constexpr std::int64_t kNotFound = std::numeric_limits<std::int64_t>::max();
constexpr double kMinimumFrameWidth = 40;
constexpr double kMinimumFrameHeight = 18;
constexpr double kMinimumBoxWidth = 40;
constexpr double kMinimumGlyphExtent = 0.5;

bool rangeFitsText(platform::AXTextRange range, std::int64_t textLength) {
  // Compared without adding, so that ranges near the integer limit cannot wrap around.
  return range.location != kNotFound && range.location >= 0 && range.length > 0 && range.location <= textLength &&
         range.length <= textLength - range.location;
}

std::optional<platform::LayoutRect> unionOf(const std::vector<platform::LayoutRect>& rects) {
  if (rects.empty()) return std::nullopt;
  double left = rects.front().x;
  double top = rects.front().y;
  double right = left + rects.front().width;
  double bottom = top + rects.front().height;
  for (const auto& rect : rects) {
    left = std::min(left, rect.x);
    top = std::min(top, rect.y);
    right = std::max(right, rect.x + rect.width);
    bottom = std::max(bottom, rect.y + rect.height);
  }
  return platform::LayoutRect{left, top, right - left, bottom - top};
}

}  // namespace

std::optional<platform::ScreenRect> EstimatedTextBounds::estimatedBoundsForRange(
    platform::AXTextRange range, const platform::AccessibilityElement& element, const platform::ScreenRect& frame) const {
  const std::string text = reading_.textOf(element);
  if (text.empty() || !rangeFitsText(range, static_cast<std::int64_t>(text::utf16Length(text)))) return std::nullopt;
  if (!(frame.width > kMinimumFrameWidth && frame.height > kMinimumFrameHeight)) return std::nullopt;

  const auto metrics = estimatedLayoutMetrics(element, frame);
  const double boxWidth = std::max(frame.width - metrics.insets.left - metrics.insets.right, kMinimumBoxWidth);
  const auto glyphs = unionOf(layout_.enclosingRects(text, metrics.font, boxWidth, range));
  if (!glyphs || !(glyphs->width > kMinimumGlyphExtent && glyphs->height > kMinimumGlyphExtent)) return std::nullopt;
  // The layout's y grows downwards from the text area's top, which lies `top` below the frame's top edge.
  return platform::ScreenRect{frame.minX() + metrics.insets.left + glyphs->x,
                              frame.maxY() - metrics.insets.top - (glyphs->y + glyphs->height), glyphs->width,
                              glyphs->height};
}

EstimatedLayoutMetrics EstimatedTextBounds::estimatedLayoutMetrics(const platform::AccessibilityElement& element,
                                                                   const platform::ScreenRect& frame) const {
  platform::TextFont font;
  const auto sample = reading_.accessibility().parameterizedAttribute(
      element, platform::AXParameterizedAttribute::attributedStringForRange, platform::AXTextRange{0, 1});
  const auto* attributed = sample ? std::get_if<platform::AXAttributedText>(&*sample) : nullptr;
  if (attributed != nullptr && !attributed->text.empty() && attributed->fontFamily && attributed->fontSize &&
      *attributed->fontSize > 0) {
    font = platform::TextFont{*attributed->fontFamily, *attributed->fontSize, platform::TextFont::SizeUnit::typographicPoints};
  } else {
    const double size = std::clamp(std::round(frame.height * 0.42), 14.0, 18.0);
    font = platform::TextFont{"", size, platform::TextFont::SizeUnit::screenPoints};
  }
  const auto role = reading_.roleOf(element);
  return EstimatedLayoutMetrics{font, estimatedInsets(role, frame.height, layout_.metrics(font))};
}

EdgeInsets EstimatedTextBounds::estimatedInsets(std::string_view role, double frameHeight,
                                                const platform::FontMetrics& font) {
  const double lineHeight = std::ceil(font.ascender - font.descender + font.leading);
  const double centred = std::round((frameHeight - lineHeight) * 0.5);
  if (role != "AXTextArea") return EdgeInsets{std::max(6.0, centred), 10, 6, 10};
  if (frameHeight > 52) return EdgeInsets{12, 14, 12, 14};
  return EdgeInsets{std::max(8.0, centred), 16, 8, 16};
}

}  // namespace quillet::dictate
