#pragma once

#include <string_view>

namespace quillet::dictate {

// Whether the application is one of the web browsers whose page fields get the browser rules
// (capsule only after a click, promoted capsule frames, text-marker geometry).
[[nodiscard]] bool isBrowserBundleId(std::string_view bundleId);

}  // namespace quillet::dictate
