#pragma once

#include <optional>
#include <utility>

#include "platform/AccessibilityElement.h"
#include "platform/Workspace.h"

namespace quillet::dictate {

// Where a result is typed: a text field of another application, or the front window of an application
// that exposes no accessibility tree at all (terminals such as xterm, many Java and Wine programs),
// which only a paste reaches. Empty: nowhere, the text goes to the clipboard only.
class InsertionTarget {
 public:
  InsertionTarget() = default;

  static InsertionTarget field(platform::AccessibilityElement element) {
    InsertionTarget target;
    target.element_ = std::move(element);
    return target;
  }

  static InsertionTarget window(platform::ApplicationWindow window) {
    InsertionTarget target;
    target.window_ = std::move(window);
    return target;
  }

  [[nodiscard]] bool isNone() const { return element_.isNone() && !window_; }
  // "No element" for a window target.
  [[nodiscard]] const platform::AccessibilityElement& element() const { return element_; }
  [[nodiscard]] const std::optional<platform::ApplicationWindow>& window() const { return window_; }

  friend bool operator==(const InsertionTarget&, const InsertionTarget&) = default;

 private:
  platform::AccessibilityElement element_;
  std::optional<platform::ApplicationWindow> window_;
};

}  // namespace quillet::dictate
