#pragma once

#include <string_view>

namespace quillet::dictate {

// Whether a field's text or placeholder is only the application's prompt ("Send a message…",
// "Ask anything") rather than something the user wrote; empty text counts as chrome.
[[nodiscard]] bool looksLikePlaceholderChrome(std::string_view text);

}  // namespace quillet::dictate
