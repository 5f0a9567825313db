#pragma once

#include "platform/TextLayout.h"

namespace quillet::platform::qt {

// Text layout with Qt's font engine (QFontMetricsF, QTextLayout). A QGuiApplication must exist.
class QtTextLayout final : public TextLayout {
 public:
  FontMetrics metrics(const TextFont& font) override;
  std::vector<LayoutRect> enclosingRects(const std::string& text, const TextFont& font, double boxWidth,
                                         AXTextRange range) override;
};

}  // namespace quillet::platform::qt
