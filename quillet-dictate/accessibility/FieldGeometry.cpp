#include "quillet-dictate/accessibility/FieldGeometry.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "quillet-dictate/accessibility/ApplicationOfElement.h"
#include "quillet-dictate/accessibility/BrowserApplications.h"
#include "quillet-dictate/accessibility/LogText.h"

namespace quillet::dictate {

namespace {

using platform::AXAttribute;
using platform::AXRect;
using platform::ScreenRect;

constexpr int kPillFrameAncestors = 4;
constexpr int kMarkerOwnerElements = 8;

// Some applications answer in the other coordinate system; these reread the same numbers in the other one.
AXRect sameNumbersAsAX(const ScreenRect& rect) { return AXRect{{rect.x, rect.y}, {rect.width, rect.height}}; }
ScreenRect sameNumbersAsScreen(const AXRect& rect) {
  return ScreenRect{rect.origin.x, rect.origin.y, rect.size.width, rect.size.height};
}

std::string describeRange(platform::AXTextRange range) {
  return "{" + std::to_string(range.location) + "," + std::to_string(range.length) + "}";
}

bool isTextEntryRole(const std::string& role) {
  return role == "AXTextField" || role == "AXTextArea" || role == "AXComboBox";
}

// A container the capsule may align to instead of the field: wider, about as tall, starting at the
// field's left edge or before, reaching its right edge, and not far above or below it.
bool plausibleComposer(const ScreenRect& candidate, const ScreenRect& best) {
  if (!std::isfinite(candidate.width) || !std::isfinite(candidate.height)) return false;
  if (!(candidate.width > best.width) || candidate.width > std::max(best.width * 2.4, 900.0)) return false;
  if (best.height <= 24 ? candidate.height < 24 : candidate.height < best.height) return false;
  if (candidate.height > std::max(best.height * 2.2, 88.0)) return false;
  if (candidate.minX() > best.minX() + 2) return false;
  if (std::abs(candidate.midY() - best.midY()) > std::max(best.height, candidate.height)) return false;
  return candidate.maxX() >= best.maxX() - 2;
}

}  // namespace

FieldGeometry::FieldGeometry(Ports ports)
    : accessibility_(ports.accessibility),
      identity_(ports.identity),
      screens_(ports.screens),
      textMarkers_(ports.textMarkers),
      log_(ports.log),
      reading_(ports.accessibility),
      estimate_(reading_, ports.textLayout) {}

AXRect FieldGeometry::axFrameOf(const platform::AccessibilityElement& element) {
  const auto position = accessibility_.typedAttribute<platform::AXPoint>(element, AXAttribute::position);
  const auto size = accessibility_.typedAttribute<platform::AXSize>(element, AXAttribute::size);
  return AXRect{position.value_or(platform::AXPoint{}), size.value_or(platform::AXSize{})};
}

ScreenRect FieldGeometry::frameOf(const platform::AccessibilityElement& element) {
  return flipToCocoa(axFrameOf(element));
}

double FieldGeometry::primaryScreenHeight() { return screens_.primaryScreenHeight().value_or(kFallbackScreenHeight); }

ScreenRect FieldGeometry::flipToCocoa(const AXRect& rect) {
  return ScreenRect{rect.origin.x, primaryScreenHeight() - rect.origin.y - rect.size.height, rect.size.width,
                    rect.size.height};
}

std::optional<platform::AccessibilityElement> FieldGeometry::parentOf(const platform::AccessibilityElement& element) {
  auto parent = accessibility_.typedAttribute<platform::AccessibilityElement>(element, AXAttribute::parent);
  if (!parent || parent->isNone()) return std::nullopt;
  return parent;
}

ScreenRect FieldGeometry::preferredPillFrame(const platform::AccessibilityElement& element) {
  const ScreenRect fieldFrame = frameOf(element);
  const std::string role = reading_.roleOf(element);
  if (!isBrowserBundleId(bundleIdOfElement(reading_, identity_, element)) || !isTextEntryRole(role)) return fieldFrame;

  ScreenRect best = fieldFrame;
  platform::AccessibilityElement current = element;
  for (int visited = 0; visited < kPillFrameAncestors; ++visited) {
    const auto ancestor = parentOf(current);
    if (!ancestor) break;
    current = *ancestor;
    const std::string ancestorRole = reading_.roleOf(current);
    // The page and the window are never the composer; look past them.
    if (ancestorRole == "AXWebArea" || ancestorRole == "AXWindow") continue;
    const ScreenRect candidate = frameOf(current);
    if (plausibleComposer(candidate, best)) best = candidate;
  }
  if (best != fieldFrame) {
    log_.log("📐 browser pill frame promoted " + describeRect(fieldFrame) + " -> " + describeRect(best) + " role=" + role);
  }
  return best;
}

bool FieldGeometry::isValidTextRect(const AXRect& rect, const AXRect& field) {
  if (!(rect.size.width > 0.5 && rect.size.height > 0.5 && rect.size.height < 200 && rect.size.width < 2000)) {
    return false;
  }
  if (!(field.size.width > 0 && field.size.height > 0)) return false;
  constexpr double kMargin = 20;
  const double midX = rect.origin.x + rect.size.width / 2;
  const double midY = rect.origin.y + rect.size.height / 2;
  return midX >= field.origin.x - kMargin && midX <= field.origin.x + field.size.width + kMargin &&
         midY >= field.origin.y - kMargin && midY <= field.origin.y + field.size.height + kMargin;
}

platform::AccessibilityElement FieldGeometry::chromiumMarkerOwner(const platform::AccessibilityElement& element) {
  std::optional<platform::AccessibilityElement> lastGroup;
  platform::AccessibilityElement current = element;
  for (int looked = 0; looked < kMarkerOwnerElements; ++looked) {
    const std::string role = reading_.roleOf(current);
    if (role == "AXWebArea" || role == "AXDocument") return current;
    if (role == "AXGroup") lastGroup = current;
    const auto parent = parentOf(current);
    if (!parent) break;
    current = *parent;
  }
  return lastGroup.value_or(element);
}

std::optional<AXRect> FieldGeometry::rawBoundsCocoa(platform::AXTextRange range,
                                                    const platform::AccessibilityElement& element) {
  const auto answer =
      accessibility_.parameterizedAttribute(element, platform::AXParameterizedAttribute::boundsForRange, range);
  if (!answer) return std::nullopt;
  if (const auto* rect = std::get_if<AXRect>(&*answer)) return *rect;
  return std::nullopt;
}

std::optional<ScreenRect> FieldGeometry::boundsForRange(platform::AXTextRange range,
                                                        const platform::AccessibilityElement& element) {
  const AXRect fieldFrame = axFrameOf(element);
  const std::string role = reading_.roleOf(element);

  if (const auto raw = rawBoundsCocoa(range, element)) {
    log_.log("🧪 raw cocoa rect=" + describeRect(*raw) + " range=" + describeRange(range) + " role=" + role);
    if (isValidTextRect(*raw, fieldFrame)) return flipToCocoa(*raw);
    log_.log("🔻 AX bounds rejected (cocoa) raw=" + describeRect(*raw) + " axFrame=" + describeRect(fieldFrame));
  }

  if (auto fromMarkers = boundsFromTextMarkers(range, element)) return fromMarkers;

  // Chat-style and placeholder-like fields get no guessed underlines.
  if (prefersSimpleExternalDecoration(reading_, identity_, element)) return std::nullopt;

  const auto estimated = estimate_.estimatedBoundsForRange(range, element, frameOf(element));
  if (estimated) {
    log_.log("🧮 estimated rect=" + describeRect(*estimated) + " range=" + describeRange(range) + " role=" + role);
  }
  return estimated;
}

std::optional<ScreenRect> FieldGeometry::boundsFromTextMarkers(platform::AXTextRange range,
                                                               const platform::AccessibilityElement& element) {
  if (textMarkers_ == nullptr) return std::nullopt;
  const auto owner = chromiumMarkerOwner(element);
  const auto raw = textMarkers_->boundsForRange(owner, range);
  if (!raw) return std::nullopt;
  const std::string ownerRole = reading_.roleOf(owner);
  const AXRect ownerFrame = axFrameOf(owner);
  log_.log("🧪 raw textMarker rect=" + describeRect(*raw) + " range=" + describeRange(range) + " ownerRole=" + ownerRole);
  if (isValidTextRect(*raw, ownerFrame)) return flipToCocoa(*raw);

  const ScreenRect flipped = flipToCocoa(*raw);
  log_.log("🧪 raw textMarker rect (asAX)=" + describeRect(flipped) + " ownerFrame=" + describeRect(ownerFrame));
  if (isValidTextRect(sameNumbersAsAX(flipped), ownerFrame)) {
    // The flipped rectangle lies on the page only when the application already answered in screen coordinates.
    log_.log("✅ textMarker accepted after Cocoa→AX reinterpretation");
    return sameNumbersAsScreen(*raw);
  }
  log_.log("🔻 AX bounds rejected (textMarker) raw=" + describeRect(*raw) + " rawAsAX=" + describeRect(flipped) +
           " ownerRole=" + ownerRole + " ownerFrame=" + describeRect(ownerFrame));
  return std::nullopt;
}

}  // namespace quillet::dictate
