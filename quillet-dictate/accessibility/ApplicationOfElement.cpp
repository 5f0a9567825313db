#include "quillet-dictate/accessibility/ApplicationOfElement.h"

#include <array>
#include <string_view>

#include "quillet-dictate/accessibility/PlaceholderChrome.h"

namespace quillet::dictate {

namespace {

constexpr std::array<std::string_view, 6> kSimpleDecorationApps = {
    "com.openai.codex", "com.todesktop.230313mzl4w4u92", "com.anthropic.claudefordesktop",
    "com.openai.chat",  "com.tinyspeck.slackmacgap",     "com.hnc.Discord",
};

}  // namespace

std::string bundleIdOfElement(const ElementReading& reading, platform::AppIdentity& identity,
                              const platform::AccessibilityElement& element) {
  const auto processId = reading.accessibility().processId(element);
  if (!processId) return {};
  return identity.bundleIdOfProcess(*processId).value_or(std::string());
}

bool isSimpleDecorationApp(const std::string& bundleId) {
  for (const auto app : kSimpleDecorationApps) {
    if (app == bundleId) return true;
  }
  return false;
}

bool prefersSimpleExternalDecoration(const ElementReading& reading, platform::AppIdentity& identity,
                                     const platform::AccessibilityElement& element) {
  const std::string role = reading.roleOf(element);
  if (isSimpleDecorationApp(bundleIdOfElement(reading, identity, element)) &&
      (role == "AXTextArea" || role == "AXTextField")) {
    return true;
  }
  return looksLikePlaceholderChrome(reading.leadingTextOf(element, promptReadUnits).text) ||
         looksLikePlaceholderChrome(reading.placeholderOf(element));
}

}  // namespace quillet::dictate
