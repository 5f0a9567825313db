#pragma once

#include <memory>

namespace quillet::platform {

// What an accessibility adapter keeps for one element of another application's tree.
class AccessibilityElementReference {
 public:
  virtual ~AccessibilityElementReference() = default;

  // Whether `other` names the same element of the same application.
  [[nodiscard]] virtual bool sameElement(const AccessibilityElementReference& other) const = 0;
};

// A handle on one element of an application's accessibility tree, as AX hands them out.
// Copies share the element; the empty handle is "no element". Made and used on the main thread.
class AccessibilityElement {
 public:
  AccessibilityElement() = default;
  explicit AccessibilityElement(std::shared_ptr<const AccessibilityElementReference> reference)
      : reference_(std::move(reference)) {}

  [[nodiscard]] bool isNone() const { return reference_ == nullptr; }

  // The adapter's own record of the element; null for "no element".
  [[nodiscard]] const AccessibilityElementReference* reference() const { return reference_.get(); }

  friend bool operator==(const AccessibilityElement& left, const AccessibilityElement& right) {
    if (left.isNone() || right.isNone()) return left.isNone() && right.isNone();
    return left.reference_ == right.reference_ || left.reference_->sameElement(*right.reference_);
  }

 private:
  std::shared_ptr<const AccessibilityElementReference> reference_;
};

}  // namespace quillet::platform
