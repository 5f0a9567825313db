#include "quillet-capture/transcription/WindowTranscript.h"

#include <cmath>

#include "common/text/UnicodeText.h"

namespace quillet::capture {

namespace {

// Beyond this the milliseconds would not fit an integer; such a time counts as unknown.
constexpr double kLimitSeconds = 1e12;

bool isTime(double seconds) { return std::isfinite(seconds) && std::fabs(seconds) < kLimitSeconds; }

}  // namespace

void WindowTranscript::add(const platform::SpeechResult& result) {
  if (result.isFinal) {
    TranscriptSegment segment{result.text, -1, -1};
    if (result.range && isTime(result.range->start)) {
      segment.startMs = std::int64_t(std::trunc(result.range->start * 1000.0));
      if (segment.startMs >= 0 && isTime(result.range->duration)) {
        segment.endMs = segment.startMs + std::int64_t(std::trunc(result.range->duration * 1000.0));
      }
    }
    settled_.push_back(std::move(segment));
    return;
  }
  if (text::trimmedWhitespaceAndNewlines(result.text).empty()) return;
  if (text::characterCount(result.text) > text::characterCount(longestProvisional_)) longestProvisional_ = result.text;
}

std::vector<TranscriptSegment> WindowTranscript::segments() const {
  std::vector<TranscriptSegment> kept;
  for (const auto& segment : settled_) {
    if (!text::trimmedWhitespaceAndNewlines(segment.text).empty()) kept.push_back(segment);
  }
  if (!kept.empty()) return kept;
  auto provisional = text::trimmedWhitespaceAndNewlines(longestProvisional_);
  if (provisional.empty()) return {};
  return {{std::move(provisional), -1, -1}};
}

}  // namespace quillet::capture
