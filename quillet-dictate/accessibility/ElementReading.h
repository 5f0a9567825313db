#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Accessibility.h"

namespace quillet::dictate {

// Reads the attributes of another application's element the way the focus tracker, insertion and the
// context sniffer all read them: an attribute that is missing or not text reads as a fixed stand-in.
class ElementReading {
 public:
  explicit ElementReading(platform::Accessibility& accessibility) : accessibility_(accessibility) {}

  // "AXRole", or "?" when absent.
  [[nodiscard]] std::string roleOf(const platform::AccessibilityElement& element) const;
  // "AXSubrole", or "-" when absent.
  [[nodiscard]] std::string subroleOf(const platform::AccessibilityElement& element) const;
  // "AXPlaceholderValue", or empty text.
  [[nodiscard]] std::string placeholderOf(const platform::AccessibilityElement& element) const;
  // "AXValue" when it is text, else empty text.
  [[nodiscard]] std::string textOf(const platform::AccessibilityElement& element) const;
  // The start of "AXValue" (as textOf) up to `maxUtf16Units`, read as a piece so that a long document costs
  // no more than a short field; whole characters only.
  struct LeadingText {
    std::string text;
    // Whether `text` is the whole value.
    bool complete = true;
  };
  [[nodiscard]] LeadingText leadingTextOf(const platform::AccessibilityElement& element, std::int64_t maxUtf16Units) const;
  // Whether "AXValue" is text, without reading all of it.
  [[nodiscard]] bool hasTextValue(const platform::AccessibilityElement& element) const;
  // The named attribute when it is text, else empty text.
  [[nodiscard]] std::string stringAttribute(std::string_view name, const platform::AccessibilityElement& element) const;

  [[nodiscard]] platform::Accessibility& accessibility() const { return accessibility_; }

 private:
  platform::Accessibility& accessibility_;
};

}  // namespace quillet::dictate
