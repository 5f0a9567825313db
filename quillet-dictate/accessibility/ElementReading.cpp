#include "quillet-dictate/accessibility/ElementReading.h"

#include <algorithm>
#include <utility>

#include "common/text/UnicodeText.h"

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

ElementReading::LeadingText ElementReading::leadingTextOf(const platform::AccessibilityElement& element,
                                                         std::int64_t maxUtf16Units) const {
  // One unit more than wanted tells whether anything follows.
  const platform::AXTextRange range{0, maxUtf16Units + 1};
  auto piece = accessibility_.parameterizedAttribute(element, platform::AXParameterizedAttribute::stringForRange, range);
  auto* text = piece ? std::get_if<std::string>(&*piece) : nullptr;
  LeadingText leading{text != nullptr ? std::move(*text) : textOf(element), true};
  const auto kept = text::leadingWithinUtf16Units(leading.text, static_cast<std::size_t>(std::max<std::int64_t>(maxUtf16Units, 0)));
  if (kept.size() == leading.text.size()) return leading;
  return {std::string(kept), false};
}

bool ElementReading::hasTextValue(const platform::AccessibilityElement& element) const {
  const auto empty = accessibility_.parameterizedAttribute(element, platform::AXParameterizedAttribute::stringForRange,
                                                           platform::AXTextRange{0, 0});
  if (empty) return std::holds_alternative<std::string>(*empty);
  return accessibility_.typedAttribute<std::string>(element, platform::AXAttribute::value).has_value();
}

std::string ElementReading::stringAttribute(std::string_view name, const platform::AccessibilityElement& element) const {
  return textOr(accessibility_.typedAttribute<std::string>(element, name), "");
}

}  // namespace quillet::dictate
