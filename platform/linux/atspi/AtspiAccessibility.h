#pragma once

#include <chrono>
#include <memory>

#include "platform/Accessibility.h"
#include "platform/MainLoop.h"

namespace quillet::platform::atspi {

// The accessibility port on AT-SPI2 (libatspi): other applications' elements with AX roles,
// attributes and notifications.
//
// libatspi is not thread-safe and keeps its D-Bus connection on GLib's default main context, so
// everything here runs on the main thread. Under Qt that context is iterated by Qt's own GLib event
// dispatcher, which delivers AT-SPI events between Qt events with no thread of ours; when the main
// loop does not iterate GLib, a timer on `mainLoop` drains the context instead. Notifications reach
// observers through MainLoop::post, never in the middle of an attribute read.
// Every call into another application waits at most `callTimeout`.
class AtspiAccessibility final : public Accessibility {
 public:
  explicit AtspiAccessibility(MainLoop& mainLoop,
                              std::chrono::milliseconds callTimeout = std::chrono::milliseconds(800));
  ~AtspiAccessibility() override;

  AtspiAccessibility(const AtspiAccessibility&) = delete;
  AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

  bool isTrusted() override;
  AccessibilityElement applicationElement(int processId) override;
  std::optional<int> processId(const AccessibilityElement& element) override;
  std::optional<AXAttributeValue> attribute(const AccessibilityElement& element, std::string_view name) override;
  std::vector<std::string> attributeNames(const AccessibilityElement& element) override;
  bool isAttributeSettable(const AccessibilityElement& element, std::string_view name) override;
  Expected<void, AXError> setAttribute(const AccessibilityElement& element, std::string_view name,
                        const AXAttributeValue& value) override;
  std::optional<AXAttributeValue> parameterizedAttribute(const AccessibilityElement& element, std::string_view name,
                                                         const AXAttributeValue& parameter) override;
  std::unique_ptr<AccessibilityObserver> createObserver(int processId,
                                                        AccessibilityObserver::Callback callback) override;

 private:
  // Keeps GLib and libatspi types out of this header.
  class Implementation;
  // Shared so that observers can tell when it has gone.
  std::shared_ptr<Implementation> implementation_;
};

}  // namespace quillet::platform::atspi
