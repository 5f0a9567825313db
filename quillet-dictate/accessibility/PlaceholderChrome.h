#pragma once

#include <cstdint>
#include <string_view>

namespace quillet::dictate {

// How much of a field's text is read to tell whether it shows only a prompt: prompts are short, so the
// start of a long document tells as well as all of it, at a fraction of the cost.
inline constexpr std::int64_t promptReadUnits = 4096;

// Whether a field's text or placeholder is only the application's prompt ("Send a message…",
// "Ask anything") rather than something the user wrote; empty text counts as chrome.
[[nodiscard]] bool looksLikePlaceholderChrome(std::string_view text);

}  // namespace quillet::dictate
