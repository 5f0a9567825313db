#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/Workspace.h"
#include "quillet-dictate/accessibility/ElementReading.h"
#include "quillet-dictate/accessibility/PageContext.h"
#include "quillet-dictate/accessibility/VisibleTextBuffer.h"

namespace quillet::dictate {

// Reads the visible text of the window the user works in through its accessibility tree, bounded
// in size and effort, for replies drafted from what is on screen. Reads nothing but the tree.
// Main thread only; each capture reads the tree afresh.
class ContextSniffer {
 public:
  static constexpr std::size_t maxVisitedElements = 2500;
  static constexpr int maxLevelsToWindow = 20;
  // Enough UTF-16 units for a full context even of characters made of several.
  static constexpr std::int64_t maxValueReadUnits = 8 * static_cast<std::int64_t>(PageContext::maxCharacters);

  struct Dependencies {
    platform::Accessibility& accessibility;
    platform::Workspace& workspace;
    // The focus tracker's current editable element ("no element" when none) and its application's identifier.
    std::function<platform::AccessibilityElement()> currentElement;
    std::function<std::string()> currentBundleID;
  };

  explicit ContextSniffer(Dependencies dependencies);

  // The focused window's text, the application's identifier and its kind.
  [[nodiscard]] PageContext capture();

  // The kind of application for an identifier; exact, case-sensitive matches.
  [[nodiscard]] static PageContext::AppHint classify(std::string_view bundleId);

 private:
  // The window around `element`; `path` receives the elements climbed on the way, `element` first.
  std::optional<platform::AccessibilityElement> rootWindow(const platform::AccessibilityElement& element,
                                                           std::vector<platform::AccessibilityElement>& path);
  std::optional<platform::AccessibilityElement> frontmostWindow();
  void walk(const platform::AccessibilityElement& element, const std::vector<platform::AccessibilityElement>& workingPath,
            VisibleTextBuffer& buffer, std::size_t& visited);
  void appendOwnText(const platform::AccessibilityElement& element, VisibleTextBuffer& buffer);
  [[nodiscard]] std::string valueOf(const platform::AccessibilityElement& element) const;
  [[nodiscard]] static bool isFull(const VisibleTextBuffer& buffer, std::size_t visited);

  Dependencies dependencies_;
  ElementReading reading_;
};

}  // namespace quillet::dictate
