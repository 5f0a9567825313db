#pragma once

#include <string>
#include <string_view>

namespace quillet::dictate {

// Turns the raw text of one transcribed chunk into readable text: spoken punctuation commands
// become punctuation, filler sounds go, spacing around punctuation is normalised and letters
// that start a sentence are capitalised. Pure and stateless, so any thread may call it.
class TranscriptCleanup {
 public:
  TranscriptCleanup() = delete;

  // The cleaned UTF-8 text, possibly empty. `startsSentence` says whether `text` begins a new
  // sentence of the transcript, in which case its first letter is capitalised too.
  static std::string clean(std::string_view text, bool startsSentence);
};

}  // namespace quillet::dictate
