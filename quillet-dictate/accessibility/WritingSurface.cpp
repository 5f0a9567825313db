#include "quillet-dictate/accessibility/WritingSurface.h"

#include <algorithm>
#include <array>
#include <string>

#include "common/text/UnicodeText.h"

namespace quillet::dictate {

namespace {

constexpr std::array<std::string_view, 11> kWritingPhrases = {
    "comment", "add comment",   "leave a comment", "reply", "write a reply", "write a comment",
    "message", "send a message", "write a message", "post",  "write a post",
};

constexpr std::array<std::string_view, 12> kWritingWords = {
    "comment", "reply", "message", "write", "post", "chat", "ask", "prompt", "caption", "bio", "description", "notes",
};

}  // namespace

bool browserLooksLikeWritingSurface(const FieldWording& wording) {
  // Absent parts still get their separator, as a plain join does.
  std::string joined(wording.text);
  for (const auto part : {wording.placeholder, wording.title, wording.help, wording.description}) {
    joined.push_back(' ');
    joined.append(part);
  }
  const std::string normalized = text::trimmedWhitespaceAndNewlines(text::lowercased(joined));
  if (normalized.empty()) return false;
  if (std::find(kWritingPhrases.begin(), kWritingPhrases.end(), normalized) != kWritingPhrases.end()) return true;
  return std::any_of(kWritingWords.begin(), kWritingWords.end(),
                     [&normalized](std::string_view word) { return normalized.find(word) != std::string::npos; });
}

}  // namespace quillet::dictate
