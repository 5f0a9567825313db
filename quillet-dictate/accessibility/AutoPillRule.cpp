#include "quillet-dictate/accessibility/AutoPillRule.h"

#include <cmath>

#include "quillet-dictate/accessibility/PlaceholderChrome.h"
#include "quillet-dictate/accessibility/WritingSurface.h"

namespace quillet::dictate {

namespace {

constexpr double kMinimumWidth = 140;
constexpr double kMinimumHeight = 24;
constexpr double kScreenMargin = 24;
constexpr double kMaximumScreenWidthShare = 0.98;
constexpr double kMaximumScreenHeightShare = 0.45;

const platform::Screen* screenShowing(const platform::ScreenRect& frame, const std::vector<platform::Screen>& screens) {
  for (const auto& screen : screens) {
    if (screen.visibleFrame.grownBy(kScreenMargin, kScreenMargin).intersects(frame)) return &screen;
  }
  return nullptr;
}

// Chat applications and prompt-like fields: short text fields and huge composers stay bare.
bool showForSimpleField(const PillFacts& facts, const platform::ScreenRect& frame, bool recentClick, bool chrome) {
  const double minimumTextFieldWidth = recentClick ? 140 : 220;
  if ((facts.role == "AXTextField" && frame.width < minimumTextFieldWidth) || frame.height > 260) return false;
  return chrome || facts.role == "AXTextArea";
}

bool showForApplicationField(const PillFacts& facts, const platform::ScreenRect& frame, bool recentClick) {
  if (facts.role != "AXTextField") return true;
  return frame.width >= (recentClick ? 140 : 260);
}

bool showForBrowserFieldAfterClick(const PillFacts& facts, const platform::ScreenRect& frame, bool chrome) {
  if (facts.subrole == "AXSearchField") return false;
  const bool writing = browserLooksLikeWritingSurface(
      {facts.text, facts.placeholder, facts.title, facts.help, facts.description});
  if (facts.role == "AXTextArea") return writing || chrome || frame.height >= 36;
  if (facts.role == "AXTextField" || facts.role == "AXComboBox") return frame.width >= 280 && (writing || chrome);
  return false;
}

}  // namespace

bool shouldShowPillCore(const PillFacts& facts, const platform::ScreenRect& frame,
                        const std::vector<platform::Screen>& screens, bool recentClick) {
  if (!std::isfinite(frame.width) || !std::isfinite(frame.height) || !std::isfinite(frame.minX()) ||
      !std::isfinite(frame.minY()) || frame.width < kMinimumWidth || frame.height < kMinimumHeight) {
    return false;
  }
  const auto* screen = screenShowing(frame, screens);
  if (screen == nullptr) return false;
  if (frame.width > kMaximumScreenWidthShare * screen->visibleFrame.width ||
      frame.height > kMaximumScreenHeightShare * screen->visibleFrame.height) {
    return false;
  }
  const bool chrome = looksLikePlaceholderChrome(facts.text) || looksLikePlaceholderChrome(facts.placeholder);
  if (!facts.browser) {
    return facts.simpleDecoration ? showForSimpleField(facts, frame, recentClick, chrome)
                                  : showForApplicationField(facts, frame, recentClick);
  }
  // In browsers the capsule shows by itself only right after the user clicked into the field.
  if (!recentClick) return false;
  return showForBrowserFieldAfterClick(facts, frame, chrome);
}

}  // namespace quillet::dictate
