#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/AccessibilityElement.h"

namespace quillet::platform {

// A point in AX coordinates: origin at the top-left corner of the primary screen, y grows downwards.
struct AXPoint {
  double x = 0;
  double y = 0;

  friend bool operator==(const AXPoint&, const AXPoint&) = default;
};

struct AXSize {
  double width = 0;
  double height = 0;

  friend bool operator==(const AXSize&, const AXSize&) = default;
};

// A rectangle in AX coordinates; `origin` is its top-left corner.
struct AXRect {
  AXPoint origin;
  AXSize size;

  friend bool operator==(const AXRect&, const AXRect&) = default;
};

// A range of an element's text counted in UTF-16 code units, as AX counts them.
struct AXTextRange {
  std::int64_t location = 0;
  std::int64_t length = 0;

  friend bool operator==(const AXTextRange&, const AXTextRange&) = default;
};

// A piece of an element's text with the font it is drawn in, as far as the application tells.
struct AXAttributedText {
  std::string text{};
  std::optional<std::string> fontFamily{};
  std::optional<double> fontSize{};  // points

  friend bool operator==(const AXAttributedText&, const AXAttributedText&) = default;
};

using AXElementList = std::vector<AccessibilityElement>;

// One attribute value, in the shapes AX answers: text (UTF-8), boolean, number, point, size,
// rectangle, text range, element, list of elements, attributed text.
using AXAttributeValue = std::variant<std::string, bool, double, AXPoint, AXSize, AXRect, AXTextRange,
                                      AccessibilityElement, AXElementList, AXAttributedText>;

}  // namespace quillet::platform
