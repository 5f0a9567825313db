#include "quillet-dictate/accessibility/AccessibilityMonitor.h"

#include "quillet-dictate/accessibility/ApplicationOfElement.h"
#include "quillet-dictate/accessibility/BrowserApplications.h"
#include "quillet-dictate/accessibility/LogText.h"
#include "quillet-dictate/accessibility/PlaceholderChrome.h"

namespace quillet::dictate {

namespace {

using platform::AXAttribute;
using platform::AXNotification;

constexpr std::string_view kManualAccessibility = "AXManualAccessibility";
constexpr std::size_t kLoggedPlaceholderCharacters = 30;

}  // namespace

std::shared_ptr<AccessibilityMonitor> AccessibilityMonitor::create(Ports ports) {
  return std::shared_ptr<AccessibilityMonitor>(new AccessibilityMonitor(ports));
}

AccessibilityMonitor::AccessibilityMonitor(Ports ports)
    : accessibility_(ports.accessibility),
      workspace_(ports.workspace),
      identity_(ports.identity),
      mainLoop_(ports.mainLoop),
      clock_(ports.clock),
      screens_(ports.screens),
      clickMonitor_(ports.clickMonitor),
      log_(ports.log),
      geometry_(ports.geometry),
      reading_(ports.accessibility),
      finder_(reading_) {}

platform::Timer AccessibilityMonitor::afterWhileAlive(double seconds, std::function<void(AccessibilityMonitor&)> block) {
  return mainLoop_.after(seconds, [weak = weak_from_this(), block = std::move(block)] {
    if (const auto self = weak.lock()) block(*self);
  });
}

void AccessibilityMonitor::start() {
  if (started_) return;
  started_ = true;
  log_.log("🎯 AccessibilityMonitor.start()");

  const std::weak_ptr<AccessibilityMonitor> weak = weak_from_this();
  workspace_.addObserver([weak](platform::WorkspaceEvent event, const platform::RunningApplication& application) {
    const auto self = weak.lock();
    if (self && event == platform::WorkspaceEvent::activated) self->applicationActivated(application);
  });

  if (const auto frontmost = workspace_.frontmostApplication()) {
    log_.log("🎬 initial frontmost: " + frontmost->bundleId.value_or("?") + " pid=" +
             std::to_string(frontmost->processId));
    if (!isOwnProcess(frontmost->processId)) attachToApp(frontmost->processId);
  }

  // A desktop that cannot be watched only sends no clicks; focus changes still end the field.
  (void)clickMonitor_.start([weak](const platform::GlobalClick&) {
    if (const auto self = weak.lock()) self->userClicked();
  });
}

void AccessibilityMonitor::applicationActivated(const platform::RunningApplication& application) {
  log_.log("🔁 app activated: " + application.bundleId.value_or("?") + " pid=" + std::to_string(application.processId));
  if (isOwnProcess(application.processId)) {
    // The agent's own panels took the front: the field is gone for now, the observer stays where it was.
    windowWithoutTree_.reset();
    loseField();
    return;
  }
  attachToApp(application.processId);
}

void AccessibilityMonitor::userClicked() {
  lastUserClickAt_ = clock_.monotonicSeconds();
  // The clicked application settles its focus a moment after the click; look twice.
  afterWhileAlive(kFirstClickProbe, [](AccessibilityMonitor& self) { self.probeFrontmostFocus(); });
  afterWhileAlive(kSecondClickProbe, [](AccessibilityMonitor& self) { self.probeFrontmostFocus(); });
}

void AccessibilityMonitor::attachToApp(int processId) {
  if (attachedPid_ == processId && axObserver_) return;
  axObserver_.reset();
  attachedPid_ = processId;
  windowWithoutTree_.reset();

  const auto application = accessibility_.applicationElement(processId);
  if (application.isNone()) {
    // Terminals, Java and Wine programs often expose nothing at all: no field can be tracked, and the
    // window in front is where a result is pasted. The next click or activation looks again.
    if (const auto window = workspace_.frontmostWindow(); window && window->application.processId == processId) {
      windowWithoutTree_ = window;
      log_.log("🪟 no accessibility tree: pid=" + std::to_string(processId) + " window=" +
               std::to_string(window->windowId) + " takes pasted text");
    }
    loseField();
    return;
  }
  // Some applications (Chromium-based ones) build their tree only when a client asks for it this way;
  // AT-SPI has no such switch and refuses it.
  const bool manualAccessibility = accessibility_.setAttribute(application, kManualAccessibility, true).hasValue();
  if (manualAccessibility) {
    log_.log("🧩 AX: AXManualAccessibility=true set on pid " + std::to_string(processId));
  }

  const std::weak_ptr<AccessibilityMonitor> weak = weak_from_this();
  axObserver_ = accessibility_.createObserver(
      processId, [weak](const platform::AccessibilityElement& element, const std::string& notification) {
        if (const auto self = weak.lock()) self->observerNotified(element, notification);
      });
  if (!axObserver_) return;
  (void)axObserver_->add(application, AXNotification::focusedUIElementChanged);

  // The field of the application left behind is no target any more, even before the new one reports focus.
  if (const auto focused = focusedElementOf(processId)) {
    focusChanged(*focused);
  } else {
    loseField();
  }

  if (manualAccessibility) {
    // The tree the switch asked for takes a moment to appear; look at the focus once more then.
    afterWhileAlive(kManualAccessibilityReread, [processId](AccessibilityMonitor& self) {
      if (self.attachedPid_ != processId) return;
      if (const auto focused = self.focusedElementOf(processId)) self.focusChanged(*focused);
    });
  }
}

void AccessibilityMonitor::observerNotified(const platform::AccessibilityElement& element,
                                            const std::string& notification) {
  if (notification == AXNotification::focusedUIElementChanged) {
    focusChanged(element);
  } else if (notification == AXNotification::valueChanged) {
    if (!currentElement_.isNone() && currentElement_ == element) textChanged();
  }
}

void AccessibilityMonitor::textChanged() {
  if (!onTextChanged || textChangeDelivery_.isValid()) return;
  textChangeDelivery_ = afterWhileAlive(kTextChangeInterval, [](AccessibilityMonitor& self) { self.deliverTextChange(); });
}

void AccessibilityMonitor::deliverTextChange() {
  if (currentElement_.isNone() || !onTextChanged) return;
  onTextChanged(reading_.leadingTextOf(currentElement_, kTextChangeReadUnits).text);
}

void AccessibilityMonitor::probeFrontmostFocus() {
  const auto frontmost = workspace_.frontmostApplication();
  if (!frontmost || isOwnProcess(frontmost->processId)) return;
  if (frontmost->processId != attachedPid_) {
    attachToApp(frontmost->processId);
    return;
  }
  // An observer that could not be made last time is tried again; attaching reads the focus itself.
  if (!axObserver_) {
    attachToApp(frontmost->processId);
    if (axObserver_) return;
  }
  if (const auto focused = focusedElementOf(attachedPid_)) {
    focusChanged(*focused);
  } else {
    loseField();
  }
}

void AccessibilityMonitor::focusChanged(const platform::AccessibilityElement& element) {
  focusDebounce_.cancel();
  const double delay = clickedWithin(kClickCountsForFocusDelay) ? kFocusDelayAfterClick : kFocusDelay;
  focusDebounce_ = afterWhileAlive(delay, [element](AccessibilityMonitor& self) { self.applyFocus(element); });
}

void AccessibilityMonitor::applyFocus(const platform::AccessibilityElement& element) {
  const auto owner = accessibility_.processId(element);
  if (owner && isOwnProcess(*owner)) {
    loseField();
    return;
  }
  logFocus(element);

  const auto target = finder_.isEditable(element) ? element : finder_.findEditableDescendant(element, kDescendantSearchDepth);
  if (target.isNone()) {
    log_.log("❌ No editable target found. Detaching badge.");
    loseField();
    return;
  }
  const std::string role = reading_.roleOf(target);
  log_.log("✅ Attaching badge to element role=" + role + " subrole=" + reading_.subroleOf(target));

  // Registrations pile up while the application stays attached; they end with its observer.
  if (axObserver_) (void)axObserver_->add(target, AXNotification::valueChanged);
  // A change still waiting belongs to the field that had focus.
  if (!(currentElement_ == target)) textChangeDelivery_.cancel();
  currentElement_ = target;
  currentBundleID_ = bundleIdOfElement(reading_, identity_, target);

  const auto frame = geometry_.preferredPillFrame(target);
  if (!shouldShowPill(target, frame)) {
    log_.log("🚫 Suppressing auto pill for role=" + role + " frame=" + describeRect(frame) +
             " — focus kept for shortcuts");
  }
  if (onFieldFocused) onFieldFocused(target, frame);
}

void AccessibilityMonitor::loseField() {
  // A focus evaluation still waiting was overtaken by the loss.
  focusDebounce_.cancel();
  textChangeDelivery_.cancel();
  currentElement_ = {};
  if (onFieldLost) onFieldLost();
}

void AccessibilityMonitor::logFocus(const platform::AccessibilityElement& element) {
  const std::string bundle = bundleIdOfElement(reading_, identity_, element);
  log_.log("👉 focus app=" + (bundle.empty() ? std::string("unknown") : bundle) + " role=" + reading_.roleOf(element) +
           " subrole=" + reading_.subroleOf(element) + " settable=" +
           describeFlag(accessibility_.isAttributeSettable(element, AXAttribute::value)) + " stringValue=" +
           describeFlag(reading_.hasTextValue(element)));
}

std::optional<platform::AccessibilityElement> AccessibilityMonitor::focusedElementOf(int processId) {
  const auto application = accessibility_.applicationElement(processId);
  auto focused = accessibility_.typedAttribute<platform::AccessibilityElement>(application, AXAttribute::focusedUIElement);
  if (!focused || focused->isNone()) return std::nullopt;
  return focused;
}

InsertionTarget AccessibilityMonitor::insertionTarget() const {
  if (!currentElement_.isNone()) return InsertionTarget::field(currentElement_);
  if (windowWithoutTree_) return InsertionTarget::window(*windowWithoutTree_);
  return {};
}

bool AccessibilityMonitor::isOwnProcess(int processId) { return processId == identity_.ownProcessId(); }

bool AccessibilityMonitor::clickedWithin(double seconds) const {
  return lastUserClickAt_ && clock_.monotonicSeconds() - *lastUserClickAt_ < seconds;
}

std::string AccessibilityMonitor::textOf(const platform::AccessibilityElement& element) const {
  return reading_.textOf(element);
}

bool AccessibilityMonitor::isEditable(const platform::AccessibilityElement& element) const {
  return finder_.isEditable(element);
}

bool AccessibilityMonitor::prefersSimpleExternalDecoration(const platform::AccessibilityElement& element) const {
  return dictate::prefersSimpleExternalDecoration(reading_, identity_, element);
}

bool AccessibilityMonitor::isBrowserElement(const platform::AccessibilityElement& element) const {
  return isBrowserBundleId(bundleIdOfElement(reading_, identity_, element));
}

PillFacts AccessibilityMonitor::pillFactsOf(const platform::AccessibilityElement& element) const {
  PillFacts facts;
  facts.bundleId = bundleIdOfElement(reading_, identity_, element);
  facts.role = reading_.roleOf(element);
  facts.subrole = reading_.subroleOf(element);
  facts.text = reading_.leadingTextOf(element, promptReadUnits).text;
  facts.placeholder = reading_.placeholderOf(element);
  facts.title = reading_.stringAttribute(AXAttribute::title, element);
  facts.help = reading_.stringAttribute(AXAttribute::help, element);
  facts.description = reading_.stringAttribute(AXAttribute::description, element);
  facts.browser = isBrowserBundleId(facts.bundleId);
  facts.simpleDecoration = prefersSimpleExternalDecoration(element);
  return facts;
}

bool AccessibilityMonitor::shouldShowPill(const platform::AccessibilityElement& element,
                                          const platform::ScreenRect& frame) {
  const bool recentClick = clickedWithin(kClickCountsForPill);
  const PillFacts facts = pillFactsOf(element);
  const bool show = shouldShowPillCore(facts, frame, screens_.screens(), recentClick);
  log_.log(std::string("🔎 PILL ") + (show ? "SHOW ✅" : "HIDE ✋") + " app=" + facts.bundleId + " role=" + facts.role +
           " sub=" + facts.subrole + " frame=" + describeRect(frame) + " click=" + describeFlag(recentClick) +
           " browser=" + describeFlag(facts.browser) + " chat=" + describeFlag(facts.simpleDecoration) + " ph=\"" +
           leadingCharacters(facts.placeholder, kLoggedPlaceholderCharacters) + "\"");
  return show;
}

}  // namespace quillet::dictate
