#include "quillet-dictate/accessibility/BrowserApplications.h"

#include <algorithm>
#include <array>

namespace quillet::dictate {

namespace {

constexpr std::array<std::string_view, 8> kBrowserBundleIds = {
    "com.apple.Safari",      "com.google.Chrome",  "com.brave.Browser",       "company.thebrowser.Browser",
    "com.microsoft.edgemac", "org.mozilla.firefox", "com.operasoftware.Opera", "com.operasoftware.OperaGX",
};

}  // namespace

bool isBrowserBundleId(std::string_view bundleId) {
  return std::find(kBrowserBundleIds.begin(), kBrowserBundleIds.end(), bundleId) != kBrowserBundleIds.end();
}

}  // namespace quillet::dictate
