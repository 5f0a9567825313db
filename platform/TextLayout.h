#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/AXAttributeValue.h"

namespace quillet::platform {

// A font as a field's application names it, or the desktop's interface font.
struct TextFont {
  enum class SizeUnit {
    typographicPoints,  // 1/72 inch, as applications report their fonts
    screenPoints,       // the unit of screen coordinates
  };

  std::string family{};  // empty: the desktop's interface font
  double size = 0;
  SizeUnit unit = SizeUnit::typographicPoints;

  friend bool operator==(const TextFont&, const TextFont&) = default;
};

// Vertical measures of a font in screen points; `descender` lies below the baseline and is negative.
struct FontMetrics {
  double ascender = 0;
  double descender = 0;
  double leading = 0;
};

// A rectangle inside a laid-out text box: origin at the box's top-left corner, y growing downwards.
struct LayoutRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  friend bool operator==(const LayoutRect&, const LayoutRect&) = default;
};

// Lays text out the way a text field would, to estimate where characters are drawn when the field
// itself will not say. Main thread only.
class TextLayout {
 public:
  virtual ~TextLayout() = default;

  virtual FontMetrics metrics(const TextFont& font) = 0;

  // Lays `text` (UTF-8) out in `font` in a box `boxWidth` wide, wrapping lines, without padding and
  // with the font's leading between lines, and answers the rectangles enclosing the glyphs of `range`
  // (UTF-16 units), one per line the range touches; empty when the range holds no glyph.
  virtual std::vector<LayoutRect> enclosingRects(const std::string& text, const TextFont& font, double boxWidth,
                                                 AXTextRange range) = 0;
};

}  // namespace quillet::platform
