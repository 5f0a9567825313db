#pragma once

#include <optional>
#include <vector>

#include "platform/TextMarkerBounds.h"

namespace quillet::platform::fake {

// Text-marker rectangles the test sets per owner element and range; any other request answers nothing.
class FakeTextMarkerBounds final : public TextMarkerBounds {
 public:
  struct Answer {
    AccessibilityElement owner;
    AXTextRange range;
    AXRect bounds;
  };

  std::optional<AXRect> boundsForRange(const AccessibilityElement& owner, AXTextRange range) override {
    ++requests;
    for (const auto& answer : answers) {
      if (answer.owner == owner && answer.range == range) return answer.bounds;
    }
    return std::nullopt;
  }

  std::vector<Answer> answers;
  int requests = 0;
};

}  // namespace quillet::platform::fake
