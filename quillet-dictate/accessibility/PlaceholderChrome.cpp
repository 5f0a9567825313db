#include "quillet-dictate/accessibility/PlaceholderChrome.h"

#include <algorithm>
#include <array>
#include <string>

#include "common/text/UnicodeText.h"

namespace quillet::dictate {

namespace {

constexpr std::array<std::string_view, 15> kChromePhrases = {
    "type / for commands", "ask anything",    "ask a question",     "send a message", "write a message",
    "type your message",   "type something",  "what's on your mind", "whats on your mind", "start a new chat",
    "search",              "reply",           "new chat",           "new message",    "message",
};

constexpr std::array<std::string_view, 11> kChromePrefixes = {
    "message chatgpt", "message claude", "message gemini", "message copilot", "message grok", "ask chatgpt",
    "ask claude",      "ask gemini",     "ask copilot",    "reply to ",      "type a message",
};

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";

bool isSpaceOrTab(char character) { return character == ' ' || character == '\t'; }

// Drops trailing ".", "!", "?", "…" and white space, as many as there are.
void dropTrailingPunctuation(std::string& text) {
  while (!text.empty()) {
    if (text.ends_with(kEllipsis)) {
      text.resize(text.size() - kEllipsis.size());
      continue;
    }
    const char last = text.back();
    if (last == '.' || last == '!' || last == '?' || last == ' ' || last == '\t' || last == '\n' || last == '\r' ||
        last == '\v' || last == '\f') {
      text.pop_back();
      continue;
    }
    break;
  }
}

}  // namespace

bool looksLikePlaceholderChrome(std::string_view text) {
  std::string normalized = text::lowercased(text);
  dropTrailingPunctuation(normalized);
  const auto first = std::find_if_not(normalized.begin(), normalized.end(), isSpaceOrTab);
  normalized.erase(normalized.begin(), first);
  while (!normalized.empty() && isSpaceOrTab(normalized.back())) normalized.pop_back();

  if (normalized.empty()) return true;
  if (std::find(kChromePhrases.begin(), kChromePhrases.end(), normalized) != kChromePhrases.end()) return true;
  return std::any_of(kChromePrefixes.begin(), kChromePrefixes.end(),
                     [&normalized](std::string_view prefix) { return normalized.starts_with(prefix); });
}

}  // namespace quillet::dictate
