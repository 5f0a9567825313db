#include "quillet-dictate/accessibility/ElementReading.h"

namespace quillet::dictate {

namespace {

std::string textOr(std::optional<std::string> text, std::string_view standIn) {
  return text ? std::move(*text) : std::string(standIn);
}

}  // namespace

std::string ElementReading::roleOf(const platform::AccessibilityElement& element) const {
  return textOr(accessibility_.typedAttribute<std::string>(element, platform::AXAttribute::role), "?");
}

std::string ElementReading::subroleOf(const platform::AccessibilityElement& element) const {
  return textOr(accessibility_.typedAttribute<std::string>(element, platform::AXAttribute::subrole), "-");
}

std::string ElementReading::placeholderOf(const platform::AccessibilityElement& element) const {
  return stringAttribute(platform::AXAttribute::placeholderValue, element);
}

std::string ElementReading::textOf(const platform::AccessibilityElement& element) const {
  return stringAttribute(platform::AXAttribute::value, element);
}

std::string ElementReading::stringAttribute(std::string_view name, const platform::AccessibilityElement& element) const {
  return textOr(accessibility_.typedAttribute<std::string>(element, name), "");
}

}  // namespace quillet::dictate
