#pragma once

#include <optional>

#include "platform/AXAttributeValue.h"
#include "platform/Accessibility.h"
#include "platform/AppIdentity.h"
#include "platform/ScreenRect.h"
#include "platform/Screens.h"
#include "platform/TextLayout.h"
#include "platform/TextMarkerBounds.h"
#include "quillet-dictate/accessibility/ElementReading.h"
#include "quillet-dictate/accessibility/EstimatedTextBounds.h"
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

// Screen rectangles of other applications' fields and of ranges of their text, for placing the
// capsule and drawing underlines. Accessibility answers in top-left coordinates; everything this
// answers is in bottom-left screen coordinates about the primary screen.
class FieldGeometry {
 public:
  struct Ports {
    platform::Accessibility& accessibility;
    platform::AppIdentity& identity;
    platform::Screens& screens;
    platform::TextLayout& textLayout;
    // Null where the accessibility service has no text markers (AT-SPI has none).
    platform::TextMarkerBounds* textMarkers;
    const VxLog& log;
  };

  // The height conversions use when no screen is attached.
  static constexpr double kFallbackScreenHeight = 900;

  explicit FieldGeometry(Ports ports);

  // The element's frame; a missing position or size counts as zero.
  [[nodiscard]] platform::ScreenRect frameOf(const platform::AccessibilityElement& element);
  [[nodiscard]] platform::AXRect axFrameOf(const platform::AccessibilityElement& element);

  // The frame the capsule aligns to: the field's own, or for a browser's one-line field the composer
  // around it when that is a plausible container of the field.
  [[nodiscard]] platform::ScreenRect preferredPillFrame(const platform::AccessibilityElement& element);

  // Where a range (UTF-16 units) of the field's text is drawn: the field's own answer, else the web
  // page's text-marker answer, else an estimate from the field's font; nothing when none holds up or
  // the field is chat-style.
  [[nodiscard]] std::optional<platform::ScreenRect> boundsForRange(platform::AXTextRange range,
                                                                   const platform::AccessibilityElement& element);

  // Top-left to bottom-left coordinates (the same numbers convert back), with the primary screen's height.
  [[nodiscard]] platform::ScreenRect flipToCocoa(const platform::AXRect& rect);

  // Whether a rectangle an application gave for text is plausible for a field with frame `field`.
  [[nodiscard]] static bool isValidTextRect(const platform::AXRect& rect, const platform::AXRect& field);

  // The element whose text markers index the field's text: the web area or document around it, else
  // the outermost group seen on the way up, else the element itself.
  [[nodiscard]] platform::AccessibilityElement chromiumMarkerOwner(const platform::AccessibilityElement& element);

 private:
  [[nodiscard]] std::optional<platform::AXRect> rawBoundsCocoa(platform::AXTextRange range,
                                                               const platform::AccessibilityElement& element);
  [[nodiscard]] std::optional<platform::ScreenRect> boundsFromTextMarkers(platform::AXTextRange range,
                                                                          const platform::AccessibilityElement& element);
  [[nodiscard]] std::optional<platform::AccessibilityElement> parentOf(const platform::AccessibilityElement& element);
  [[nodiscard]] double primaryScreenHeight();

  platform::Accessibility& accessibility_;
  platform::AppIdentity& identity_;
  platform::Screens& screens_;
  platform::TextMarkerBounds* textMarkers_;
  const VxLog& log_;
  ElementReading reading_;
  EstimatedTextBounds estimate_;
};

}  // namespace quillet::dictate
