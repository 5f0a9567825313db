#include "platform/fake/FakeTextLayout.h"

#include <cstdint>

namespace quillet::platform::fake {

namespace {

// The UTF-16 units of each UTF-8 character in turn: 2 for four-byte sequences, else 1; "\n" stays visible.
std::vector<char16_t> utf16UnitsOf(const std::string& text) {
  std::vector<char16_t> units;
  for (std::size_t byte = 0; byte < text.size();) {
    const auto lead = static_cast<unsigned char>(text[byte]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : 4;
    if (length == 4) units.push_back(u'\xD800');
    units.push_back(lead == '\n' ? u'\n' : u'x');
    byte += length;
  }
  return units;
}

}  // namespace

FontMetrics FakeTextLayout::metrics(const TextFont& font) {
  fontsAsked.push_back(font);
  return fontMetrics;
}

std::vector<LayoutRect> FakeTextLayout::enclosingRects(const std::string& text, const TextFont& font, double boxWidth,
                                                       AXTextRange range) {
  fontsAsked.push_back(font);
  boxWidthsAsked.push_back(boxWidth);
  const double lineHeight = fontMetrics.ascender - fontMetrics.descender + fontMetrics.leading;
  const auto units = utf16UnitsOf(text);
  std::vector<LayoutRect> rects;
  double x = 0;
  double y = 0;
  for (std::int64_t index = 0; index < static_cast<std::int64_t>(units.size()); ++index) {
    const bool newline = units[static_cast<std::size_t>(index)] == u'\n';
    if (!newline && x > 0 && x + advance > boxWidth) {
      x = 0;
      y += lineHeight;
    }
    const bool inRange = index >= range.location && index < range.location + range.length;
    if (inRange && !newline) {
      if (!rects.empty() && rects.back().y == y && rects.back().x + rects.back().width == x) {
        rects.back().width += advance;
      } else {
        rects.push_back({x, y, advance, lineHeight});
      }
    }
    if (newline) {
      x = 0;
      y += lineHeight;
    } else {
      x += advance;
    }
  }
  return rects;
}

}  // namespace quillet::platform::fake
