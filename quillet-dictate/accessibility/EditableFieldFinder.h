#pragma once

#include "platform/AccessibilityElement.h"
#include "quillet-dictate/accessibility/ElementReading.h"

namespace quillet::dictate {

// Decides which elements take typed text, and finds such an element inside a focused container.
// Password fields never qualify.
class EditableFieldFinder {
 public:
  explicit EditableFieldFinder(const ElementReading& reading) : reading_(reading) {}

  [[nodiscard]] bool isEditable(const platform::AccessibilityElement& element) const;

  // The focused editable child, else the first editable child, else the first editable element found
  // deeper, child by child, at most `maxDepth` levels down; "no element" when there is none.
  [[nodiscard]] platform::AccessibilityElement findEditableDescendant(const platform::AccessibilityElement& element,
                                                                      int maxDepth) const;

 private:
  const ElementReading& reading_;
};

}  // namespace quillet::dictate
