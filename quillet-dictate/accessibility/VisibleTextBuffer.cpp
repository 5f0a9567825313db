#include "quillet-dictate/accessibility/VisibleTextBuffer.h"

#include <algorithm>
#include <vector>

#include "common/text/UnicodeText.h"
#include "quillet-dictate/accessibility/PlaceholderChrome.h"

namespace quillet::dictate {

namespace {

constexpr std::string_view kLineSeparator = "\xE2\x80\xA8";
constexpr std::string_view kParagraphSeparator = "\xE2\x80\xA9";

// Line breaks as text views know them: LF, CR LF, CR, and the Unicode line and paragraph separators.
std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t lineStart = 0;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t breakLength = 0;
    if (text[at] == '\n') {
      breakLength = 1;
    } else if (text[at] == '\r') {
      breakLength = at + 1 < text.size() && text[at + 1] == '\n' ? 2 : 1;
    } else if (text.substr(at).starts_with(kLineSeparator) || text.substr(at).starts_with(kParagraphSeparator)) {
      breakLength = 3;
    }
    if (breakLength == 0) {
      ++at;
      continue;
    }
    lines.push_back(text.substr(lineStart, at - lineStart));
    at += breakLength;
    lineStart = at;
  }
  lines.push_back(text.substr(lineStart));
  return lines;
}

std::string_view trimmedSpacesAndTabs(std::string_view line) {
  const auto first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

}  // namespace

void VisibleTextBuffer::append(std::string_view text) {
  const std::string trimmed = text::trimmedWhitespaceAndNewlines(text);
  // Empty text counts as chrome too.
  if (looksLikePlaceholderChrome(trimmed)) return;
  if (trimmed == lastNonEmptyLine()) return;
  if (!text_.empty()) {
    text_.push_back('\n');
    ++characterCount_;
  }
  text_.append(trimmed);
  // A line feed always ends a character, and the trimmed text starts with no line break,
  // so counts of the pieces add up to the count of the whole.
  characterCount_ += text::characterCount(trimmed);
}

// Every appended line ends in visible text, so the buffer's last line is its last non-empty one.
std::string_view VisibleTextBuffer::lastNonEmptyLine() const {
  const std::string_view text = text_;
  std::size_t start = 0;
  if (const auto lineFeed = text.find_last_of("\r\n"); lineFeed != std::string_view::npos) start = lineFeed + 1;
  for (const auto separator : {kLineSeparator, kParagraphSeparator}) {
    if (const auto at = text.rfind(separator); at != std::string_view::npos) start = std::max(start, at + separator.size());
  }
  return text.substr(start);
}

std::string VisibleTextBuffer::normalized(std::string_view text) {
  std::string output;
  bool outputEmpty = true;
  bool previousBlank = false;
  for (const auto rawLine : splitLines(text)) {
    const auto line = trimmedSpacesAndTabs(rawLine);
    const bool blank = line.empty();
    if (!blank || (!outputEmpty && !previousBlank)) {
      if (!outputEmpty) output.push_back('\n');
      output.append(line);
      outputEmpty = false;
    }
    previousBlank = blank;
  }
  return output;
}

}  // namespace quillet::dictate
