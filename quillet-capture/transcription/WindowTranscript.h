#pragma once

#include <string>
#include <vector>

#include "platform/SpeechResult.h"
#include "quillet-capture/transcription/TranscriptSegment.h"

namespace quillet::capture {

// Collects the recogniser's results for one finished window: its settled results, and the longest
// provisional text in case nothing settles.
class WindowTranscript {
 public:
  void add(const platform::SpeechResult& result);

  // The settled segments that hold words; without any, the longest provisional text over the whole
  // window (times unknown); else nothing.
  [[nodiscard]] std::vector<TranscriptSegment> segments() const;

 private:
  std::vector<TranscriptSegment> settled_;
  std::string longestProvisional_;
};

}  // namespace quillet::capture
