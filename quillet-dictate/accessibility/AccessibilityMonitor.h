#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Accessibility.h"
#include "platform/AppIdentity.h"
#include "platform/Clock.h"
#include "platform/GlobalClickMonitor.h"
#include "platform/MainLoop.h"
#include "platform/ScreenRect.h"
#include "platform/Screens.h"
#include "platform/Timer.h"
#include "platform/Workspace.h"
#include "quillet-dictate/accessibility/AutoPillRule.h"
#include "quillet-dictate/accessibility/EditableFieldFinder.h"
#include "quillet-dictate/accessibility/ElementReading.h"
#include "quillet-dictate/accessibility/FieldGeometry.h"
#include "quillet-dictate/accessibility/InsertionTarget.h"
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

// Follows which application is in front and which of its elements has keyboard focus, and tells the
// agent when an editable text field gains focus, when its text changes and when no field has focus.
// It also decides whether the capsule may appear by itself beside the focused field; focus is
// reported either way so that shortcuts keep working on the field.
//
// Main loop only. Owned by a shared pointer: delayed work holds it weakly and is dropped once it is gone.
class AccessibilityMonitor : public std::enable_shared_from_this<AccessibilityMonitor> {
 public:
  struct Ports {
    platform::Accessibility& accessibility;
    platform::Workspace& workspace;
    platform::AppIdentity& identity;
    platform::MainLoop& mainLoop;
    const platform::Clock& clock;
    platform::Screens& screens;
    platform::GlobalClickMonitor& clickMonitor;
    const VxLog& log;
    FieldGeometry& geometry;
  };

  // Delays of the focus evaluation: short right after a click so a clicked field responds at once,
  // longer otherwise to absorb bursts of focus changes.
  static constexpr double kFocusDelayAfterClick = 0.02;
  static constexpr double kFocusDelay = 0.12;
  static constexpr double kClickCountsForFocusDelay = 0.5;
  static constexpr double kClickCountsForPill = 0.8;
  static constexpr double kFirstClickProbe = 0.03;
  static constexpr double kSecondClickProbe = 0.12;
  static constexpr double kManualAccessibilityReread = 0.5;
  static constexpr int kDescendantSearchDepth = 8;
  // Text changes of the focused field reach onTextChanged at most once per this interval, with the
  // field's text read once, and at most this much of it: typing into a long document costs no more
  // than typing into a short field.
  static constexpr double kTextChangeInterval = 0.1;
  static constexpr std::int64_t kTextChangeReadUnits = 20000;

  static std::shared_ptr<AccessibilityMonitor> create(Ports ports);

  AccessibilityMonitor(const AccessibilityMonitor&) = delete;
  AccessibilityMonitor& operator=(const AccessibilityMonitor&) = delete;

  // Begins following applications, focus and clicks; call once, after the callbacks are set.
  void start();

  // An editable element got focus; the frame is the capsule's anchor in screen coordinates.
  std::function<void(const platform::AccessibilityElement& element, const platform::ScreenRect& frame)> onFieldFocused;
  // The focused field's text changed; `text` is its start, up to kTextChangeReadUnits.
  std::function<void(const std::string& text)> onTextChanged;
  // No editable element has focus any more.
  std::function<void()> onFieldLost;

  // The editable element last reported focused; "no element" after onFieldLost.
  [[nodiscard]] const platform::AccessibilityElement& currentElement() const { return currentElement_; }
  // Where a result would be typed now: currentElement(), else the front window when the front
  // application exposes no accessibility tree at all; none otherwise.
  [[nodiscard]] InsertionTarget insertionTarget() const;
  // The identifier of the application owning currentElement(); empty when unknown.
  [[nodiscard]] const std::string& currentBundleID() const { return currentBundleID_; }

  [[nodiscard]] std::string textOf(const platform::AccessibilityElement& element) const;
  [[nodiscard]] bool isEditable(const platform::AccessibilityElement& element) const;
  [[nodiscard]] bool prefersSimpleExternalDecoration(const platform::AccessibilityElement& element) const;
  [[nodiscard]] bool isBrowserElement(const platform::AccessibilityElement& element) const;

  // Whether the capsule may appear by itself for `element` at `frame`; logs the decision.
  bool shouldShowPill(const platform::AccessibilityElement& element, const platform::ScreenRect& frame);

  [[nodiscard]] FieldGeometry& geometry() const { return geometry_; }

 private:
  explicit AccessibilityMonitor(Ports ports);

  void applicationActivated(const platform::RunningApplication& application);
  void userClicked();
  void attachToApp(int processId);
  void observerNotified(const platform::AccessibilityElement& element, const std::string& notification);
  void probeFrontmostFocus();
  void focusChanged(const platform::AccessibilityElement& element);
  void applyFocus(const platform::AccessibilityElement& element);
  void loseField();
  void textChanged();
  void deliverTextChange();
  void logFocus(const platform::AccessibilityElement& element);
  [[nodiscard]] std::optional<platform::AccessibilityElement> focusedElementOf(int processId);
  [[nodiscard]] bool isOwnProcess(int processId);
  [[nodiscard]] bool clickedWithin(double seconds) const;
  [[nodiscard]] PillFacts pillFactsOf(const platform::AccessibilityElement& element) const;
  // Runs `block` on this monitor after `seconds`, unless the monitor is gone by then.
  platform::Timer afterWhileAlive(double seconds, std::function<void(AccessibilityMonitor&)> block);

  platform::Accessibility& accessibility_;
  platform::Workspace& workspace_;
  platform::AppIdentity& identity_;
  platform::MainLoop& mainLoop_;
  const platform::Clock& clock_;
  platform::Screens& screens_;
  platform::GlobalClickMonitor& clickMonitor_;
  const VxLog& log_;
  FieldGeometry& geometry_;
  ElementReading reading_;
  EditableFieldFinder finder_;

  std::unique_ptr<platform::AccessibilityObserver> axObserver_;
  platform::AccessibilityElement currentElement_;
  std::string currentBundleID_;
  platform::Timer focusDebounce_;
  platform::Timer textChangeDelivery_;
  // The front window of the attached application when that application has no accessibility tree.
  std::optional<platform::ApplicationWindow> windowWithoutTree_;
  int attachedPid_ = 0;
  std::optional<double> lastUserClickAt_;
  bool started_ = false;
};

}  // namespace quillet::dictate
