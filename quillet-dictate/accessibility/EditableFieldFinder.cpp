#include "quillet-dictate/accessibility/EditableFieldFinder.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace quillet::dictate {

namespace {

using platform::AXAttribute;

constexpr std::array<std::string_view, 32> kNonEditableRoles = {
    "AXStaticText",  "AXWindow",      "AXGroup",          "AXButton",       "AXImage",         "AXMenuItem",
    "AXMenu",        "AXMenuBar",     "AXMenuBarItem",    "AXList",         "AXTable",         "AXOutline",
    "AXRow",         "AXCell",        "AXColumn",         "AXScrollArea",   "AXScrollBar",     "AXSplitGroup",
    "AXSplitter",    "AXToolbar",     "AXCheckBox",       "AXRadioButton",  "AXRadioGroup",    "AXSlider",
    "AXIncrementor", "AXPopUpButton", "AXTabGroup",       "AXProgressIndicator", "AXLink",     "AXBusyIndicator",
    "AXValueIndicator", "AXDisclosureTriangle",
};

constexpr std::array<std::string_view, 3> kEditableRoles = {"AXTextField", "AXTextArea", "AXComboBox"};

template <std::size_t size>
bool contains(const std::array<std::string_view, size>& table, std::string_view value) {
  return std::find(table.begin(), table.end(), value) != table.end();
}

}  // namespace

bool EditableFieldFinder::isEditable(const platform::AccessibilityElement& element) const {
  const std::string subrole = reading_.subroleOf(element);
  if (subrole == "AXContentEditable" || subrole == "AXSearchField") return true;
  const std::string role = reading_.roleOf(element);
  // Password fields are never targets.
  if (contains(kNonEditableRoles, role) || subrole == "AXSecureTextField") return false;
  if (contains(kEditableRoles, role)) return true;
  auto& accessibility = reading_.accessibility();
  if (!accessibility.isAttributeSettable(element, AXAttribute::value)) return false;
  if (!accessibility.typedAttribute<std::string>(element, AXAttribute::value)) return false;
  const auto names = accessibility.attributeNames(element);
  return std::find(names.begin(), names.end(), AXAttribute::selectedTextRange) != names.end();
}

platform::AccessibilityElement EditableFieldFinder::findEditableDescendant(const platform::AccessibilityElement& element,
                                                                           int maxDepth) const {
  if (maxDepth <= 0) return {};
  auto& accessibility = reading_.accessibility();
  const auto children = accessibility.typedAttribute<platform::AXElementList>(element, AXAttribute::children);
  if (!children) return {};
  for (const auto& child : *children) {
    if (accessibility.typedAttribute<bool>(child, AXAttribute::focused).value_or(false) && isEditable(child)) {
      return child;
    }
  }
  for (const auto& child : *children) {
    if (isEditable(child)) return child;
  }
  for (const auto& child : *children) {
    if (auto found = findEditableDescendant(child, maxDepth - 1); !found.isNone()) return found;
  }
  return {};
}

}  // namespace quillet::dictate
