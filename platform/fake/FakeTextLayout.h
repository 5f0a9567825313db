#pragma once

#include <string>
#include <vector>

#include "platform/TextLayout.h"

namespace quillet::platform::fake {

// A monospaced layout: every UTF-16 unit advances by `advance`, lines break at "\n" and wherever the
// next unit would cross the box's right edge, each line `ascender - descender + leading` high.
// It records the fonts and box widths asked for.
class FakeTextLayout final : public TextLayout {
 public:
  FontMetrics metrics(const TextFont& font) override;
  std::vector<LayoutRect> enclosingRects(const std::string& text, const TextFont& font, double boxWidth,
                                         AXTextRange range) override;

  double advance = 8;
  FontMetrics fontMetrics{.ascender = 10, .descender = -3, .leading = 0};

  std::vector<TextFont> fontsAsked;
  std::vector<double> boxWidthsAsked;
};

}  // namespace quillet::platform::fake
