#pragma once

#include <optional>

#include "platform/AXAttributeValue.h"
#include "platform/AccessibilityElement.h"

namespace quillet::platform {

// The rectangle of a character range through an element's text markers, the way web engines index a
// page's text: a marker for each end (AXTextMarkerForIndex), the range between them
// (AXTextMarkerRangeForUnorderedTextMarkers) and its bounds (AXBoundsForTextMarkerRange).
// Markers are opaque values of the accessibility service, so the three steps sit behind one call.
class TextMarkerBounds {
 public:
  virtual ~TextMarkerBounds() = default;

  // The rectangle as the application answers it (applications differ in which coordinate system they
  // use); nothing when any of the three steps fails.
  virtual std::optional<AXRect> boundsForRange(const AccessibilityElement& owner, AXTextRange range) = 0;
};

}  // namespace quillet::platform
