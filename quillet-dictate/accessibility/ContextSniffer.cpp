#include "quillet-dictate/accessibility/ContextSniffer.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/text/UnicodeText.h"

namespace quillet::dictate {

namespace {

using platform::AccessibilityElement;
using platform::AXAttribute;
using AppHint = PageContext::AppHint;

struct HintEntry {
  std::string_view bundleId;
  AppHint hint;
};

constexpr std::array<HintEntry, 26> kHints = {{
    {"com.apple.mail", AppHint::mail},
    {"com.microsoft.Outlook", AppHint::mail},
    {"com.readdle.smartemail-Mac", AppHint::mail},
    {"com.superhuman.electron", AppHint::mail},
    {"com.tinyspeck.slackmacgap", AppHint::chat},
    {"com.apple.MobileSMS", AppHint::chat},
    {"com.hnc.Discord", AppHint::chat},
    {"com.microsoft.teams2", AppHint::chat},
    {"com.anthropic.claudefordesktop", AppHint::chat},
    {"com.openai.chat", AppHint::chat},
    {"com.google.Gemini", AppHint::chat},
    {"ai.perplexity.mac", AppHint::chat},
    {"com.apple.Safari", AppHint::browser},
    {"com.google.Chrome", AppHint::browser},
    {"com.microsoft.edgemac", AppHint::browser},
    {"company.thebrowser.Browser", AppHint::browser},
    {"org.mozilla.firefox", AppHint::browser},
    {"com.apple.Notes", AppHint::doc},
    {"notion.id", AppHint::doc},
    {"com.apple.iWork.Pages", AppHint::doc},
    {"com.microsoft.Word", AppHint::doc},
    {"com.todesktop.230313mzl4w4u92", AppHint::code},
    {"com.microsoft.VSCode", AppHint::code},
    {"dev.zed.Zed", AppHint::code},
    {"com.apple.dt.Xcode", AppHint::code},
    {"com.codeium.windsurf", AppHint::code},
}};

bool isOneOf(std::string_view role, std::initializer_list<std::string_view> roles) {
  return std::find(roles.begin(), roles.end(), role) != roles.end();
}

}  // namespace

ContextSniffer::ContextSniffer(Dependencies dependencies)
    : dependencies_(std::move(dependencies)), reading_(dependencies_.accessibility) {}

PageContext::AppHint ContextSniffer::classify(std::string_view bundleId) {
  for (const auto& entry : kHints) {
    if (entry.bundleId == bundleId) return entry.hint;
  }
  return AppHint::generic;
}

PageContext ContextSniffer::capture() {
  PageContext context;
  context.bundleID = dependencies_.currentBundleID ? dependencies_.currentBundleID() : std::string();
  context.appHint = classify(context.bundleID);

  std::optional<AccessibilityElement> window;
  // The focused element and its ancestors up to the window: the part of the window the user works in.
  std::vector<AccessibilityElement> workingPath;
  const AccessibilityElement current = dependencies_.currentElement ? dependencies_.currentElement() : AccessibilityElement();
  if (!current.isNone()) window = rootWindow(current, workingPath);
  if (!window) {
    workingPath.clear();
    window = frontmostWindow();
  }
  if (!window) return context;

  VisibleTextBuffer buffer;
  std::size_t visited = 0;
  walk(*window, workingPath, buffer, visited);

  const std::string normalized = VisibleTextBuffer::normalized(buffer.text());
  std::size_t kept = 0;
  text::forEachCharacter(normalized, [&](std::string_view character) {
    if (kept++ < PageContext::maxCharacters) context.text.append(character);
  });
  context.isEmpty = context.text.empty();
  return context;
}

std::optional<AccessibilityElement> ContextSniffer::rootWindow(const AccessibilityElement& element,
                                                              std::vector<AccessibilityElement>& path) {
  AccessibilityElement candidate = element;
  for (int climbed = 0;; ++climbed) {
    if (reading_.roleOf(candidate) == "AXWindow") return candidate;
    path.push_back(candidate);
    if (climbed == maxLevelsToWindow) return std::nullopt;
    auto parent = dependencies_.accessibility.typedAttribute<AccessibilityElement>(candidate, AXAttribute::parent);
    if (!parent || parent->isNone()) return std::nullopt;
    candidate = std::move(*parent);
  }
}

std::optional<AccessibilityElement> ContextSniffer::frontmostWindow() {
  const auto frontmost = dependencies_.workspace.frontmostApplication();
  if (!frontmost) return std::nullopt;
  const auto application = dependencies_.accessibility.applicationElement(frontmost->processId);
  if (application.isNone()) return std::nullopt;
  auto window = dependencies_.accessibility.typedAttribute<AccessibilityElement>(application, AXAttribute::focusedWindow);
  if (!window || window->isNone()) return std::nullopt;
  return window;
}

// No more of a value than the context can hold is read, however long the document behind it.
std::string ContextSniffer::valueOf(const AccessibilityElement& element) const {
  return reading_.leadingTextOf(element, maxValueReadUnits).text;
}

bool ContextSniffer::isFull(const VisibleTextBuffer& buffer, std::size_t visited) {
  return buffer.characterCount() >= PageContext::maxCharacters || visited >= maxVisitedElements;
}

void ContextSniffer::walk(const AccessibilityElement& element, const std::vector<AccessibilityElement>& workingPath,
                          VisibleTextBuffer& buffer, std::size_t& visited) {
  if (isFull(buffer, visited)) return;
  ++visited;
  // Closed menus, unopened popovers and pages of a stack not shown stay in the tree; nothing of them is on screen.
  if (dependencies_.accessibility.typedAttribute<bool>(element, AXAttribute::hidden) == true) return;
  appendOwnText(element, buffer);
  auto children = dependencies_.accessibility.typedAttribute<platform::AXElementList>(element, AXAttribute::children);
  if (!children) return;
  // The part holding the focused element comes first, ahead of title bars and tool bars, so that what
  // the user works on leads the context and survives its cap.
  const auto working = std::find_if(children->begin(), children->end(), [&](const AccessibilityElement& child) {
    return std::find(workingPath.begin(), workingPath.end(), child) != workingPath.end();
  });
  if (working != children->end()) std::rotate(children->begin(), working, std::next(working));
  for (const auto& child : *children) {
    walk(child, workingPath, buffer, visited);
    if (isFull(buffer, visited)) return;
  }
}

void ContextSniffer::appendOwnText(const AccessibilityElement& element, VisibleTextBuffer& buffer) {
  const auto role = dependencies_.accessibility.typedAttribute<std::string>(element, AXAttribute::role);
  if (!role || role->empty()) return;
  if (isOneOf(*role, {"AXStaticText", "AXTextField", "AXTextArea"})) {
    // A password field's value never leaves this process, whatever its application exposes.
    if (*role == "AXTextField" && reading_.subroleOf(element) == "AXSecureTextField") return;
    if (const auto value = valueOf(element); !value.empty()) buffer.append(value);
    return;
  }
  if (isOneOf(*role, {"AXWebArea", "AXLink", "AXButton", "AXCheckBox", "AXRadioButton"})) {
    if (const auto title = reading_.stringAttribute(AXAttribute::title, element); !title.empty()) buffer.append(title);
    return;
  }
  if (const auto value = valueOf(element); text::characterCount(value) > 1) {
    buffer.append(value);
  } else if (const auto description = reading_.stringAttribute(AXAttribute::description, element);
             text::characterCount(description) > 2) {
    buffer.append(description);
  }
}

}  // namespace quillet::dictate
