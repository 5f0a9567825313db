#pragma once

#include <optional>

#include "platform/AXAttributeValue.h"
#include "platform/AccessibilityElement.h"
#include "platform/ScreenRect.h"
#include "platform/TextLayout.h"
#include "quillet-dictate/accessibility/ElementReading.h"

namespace quillet::dictate {

// Distances from a field's frame to its text area, in points.
struct EdgeInsets {
  double top = 0;
  double left = 0;
  double bottom = 0;
  double right = 0;

  friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

// How a field's text is probably laid out: its font and where the text area starts.
struct EstimatedLayoutMetrics {
  platform::TextFont font;
  EdgeInsets insets;
};

// Where a range of a field's text probably is drawn, found by laying the field's text out again in
// its font when the field itself will not tell.
class EstimatedTextBounds {
 public:
  EstimatedTextBounds(const ElementReading& reading, platform::TextLayout& layout) : reading_(reading), layout_(layout) {}

  // The range's rectangle in screen coordinates inside the field's `frame` (screen coordinates);
  // nothing for an empty field, a range outside its text, a frame too small to hold text, or a
  // range without glyphs.
  [[nodiscard]] std::optional<platform::ScreenRect> estimatedBoundsForRange(platform::AXTextRange range,
                                                                            const platform::AccessibilityElement& element,
                                                                            const platform::ScreenRect& frame) const;

  // The field's own font when it tells one, else the interface font sized after the frame's height.
  [[nodiscard]] EstimatedLayoutMetrics estimatedLayoutMetrics(const platform::AccessibilityElement& element,
                                                              const platform::ScreenRect& frame) const;

  // Insets by the field's kind and height and the font's line height.
  [[nodiscard]] static EdgeInsets estimatedInsets(std::string_view role, double frameHeight,
                                                  const platform::FontMetrics& font);

 private:
  const ElementReading& reading_;
  platform::TextLayout& layout_;
};

}  // namespace quillet::dictate
