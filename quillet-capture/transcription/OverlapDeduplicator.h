#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "quillet-capture/transcription/TranscriptSegment.h"

namespace quillet::capture {

// Removes from the start of a window's transcript the words that the one-second overlap with the previous
// window repeats: the longest run (at most 12 words) that begins this window and ends the previous one's
// last 8 words. Words are split at spaces and line feeds; case is ignored, punctuation is not.
class OverlapDeduplicator {
 public:
  static constexpr std::size_t kTailWords = 8;
  static constexpr std::size_t kLongestMatch = 12;

  // The window's segments without the repeated words; segments left empty are dropped. Remembers the
  // window's last words for the next one (a window without words leaves them as they were).
  [[nodiscard]] std::vector<TranscriptSegment> dedup(const std::vector<TranscriptSegment>& segments);

  [[nodiscard]] const std::vector<std::string>& tailWords() const { return tailWords_; }

 private:
  std::vector<std::string> tailWords_;
};

}  // namespace quillet::capture
