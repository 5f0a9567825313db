#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/fake/FakeAccessibility.h"

namespace quillet::test {

// The fake tree with two things it cannot script by itself: applications that accept the
// AXManualAccessibility switch, and children that report AXFocused while their container has focus
// (as web pages do).
class ScriptedAccessibility final : public platform::Accessibility {
 public:
  explicit ScriptedAccessibility(platform::fake::FakeAccessibility& tree) : tree_(tree) {}

  bool acceptsManualAccessibility = false;
  std::vector<platform::AccessibilityElement> reportingFocused;
  int manualAccessibilityWrites = 0;

  bool isTrusted() override { return tree_.isTrusted(); }
  platform::AccessibilityElement applicationElement(int processId) override { return tree_.applicationElement(processId); }
  std::optional<int> processId(const platform::AccessibilityElement& element) override { return tree_.processId(element); }
  std::optional<platform::AXAttributeValue> attribute(const platform::AccessibilityElement& element,
                                                      std::string_view name) override {
    if (name == platform::AXAttribute::focused &&
        std::find(reportingFocused.begin(), reportingFocused.end(), element) != reportingFocused.end()) {
      return true;
    }
    return tree_.attribute(element, name);
  }
  std::vector<std::string> attributeNames(const platform::AccessibilityElement& element) override {
    return tree_.attributeNames(element);
  }
  bool isAttributeSettable(const platform::AccessibilityElement& element, std::string_view name) override {
    return tree_.isAttributeSettable(element, name);
  }
  Expected<void, platform::AXError> setAttribute(const platform::AccessibilityElement& element, std::string_view name,
                                  const platform::AXAttributeValue& value) override {
    if (name == "AXManualAccessibility") {
      ++manualAccessibilityWrites;
      if (acceptsManualAccessibility && !element.isNone()) return {};
    }
    return tree_.setAttribute(element, name, value);
  }
  std::optional<platform::AXAttributeValue> parameterizedAttribute(const platform::AccessibilityElement& element,
                                                                   std::string_view name,
                                                                   const platform::AXAttributeValue& parameter) override {
    return tree_.parameterizedAttribute(element, name, parameter);
  }
  std::unique_ptr<platform::AccessibilityObserver> createObserver(
      int processId, platform::AccessibilityObserver::Callback callback) override {
    return tree_.createObserver(processId, std::move(callback));
  }

 private:
  platform::fake::FakeAccessibility& tree_;
};

}  // namespace quillet::test
