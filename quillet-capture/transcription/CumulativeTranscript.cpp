#include "quillet-capture/transcription/CumulativeTranscript.h"

#include <sstream>

#include "common/text/UnicodeText.h"

namespace quillet::capture {

namespace {

std::size_t segmentCount(const std::string& text) {
  std::istringstream words(text);
  std::size_t count = 0;
  for (std::string word; words >> word;) ++count;
  return count;
}

std::string joined(const std::string& first, const std::string& second) {
  if (first.empty()) return second;
  if (second.empty()) return first;
  return first + " " + second;
}

}  // namespace

std::optional<CumulativeTranscript::Update> CumulativeTranscript::add(const platform::SpeechResult& result) {
  const std::string text = text::trimmedWhitespaceAndNewlines(result.text);
  // An utterance's settled words join the transcript; provisional ones only extend it for now.
  if (result.isFinal) {
    settled_ = joined(settled_, text);
    return report(settled_, false);
  }
  return report(joined(settled_, text), false);
}

std::optional<CumulativeTranscript::Update> CumulativeTranscript::finish() { return report(settled_, true); }

std::optional<CumulativeTranscript::Update> CumulativeTranscript::report(const std::string& whole, bool isFinal) {
  const std::string text = text::trimmedWhitespaceAndNewlines(whole);
  if (text.empty()) return std::nullopt;
  const std::size_t segments = segmentCount(text);
  const std::size_t previous = lastResultIndex_;
  lastResultIndex_ = segments;
  if (!isFinal && segments <= previous) return std::nullopt;
  return Update{text, isFinal};
}

}  // namespace quillet::capture
