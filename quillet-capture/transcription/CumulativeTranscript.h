#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/SpeechResult.h"

namespace quillet::capture {

// The whole transcript of one speaker so far, built from a stream's results the way a cumulative recogniser
// reports it: every update carries all the text since the start. An update is worth reporting when it is
// final or holds more segments (words) than the last one seen; others only replace earlier wording.
class CumulativeTranscript {
 public:
  struct Update {
    std::string text;  // trimmed, never empty
    bool isFinal = false;
  };

  // The update a stream result makes, when it is to be reported.
  [[nodiscard]] std::optional<Update> add(const platform::SpeechResult& result);

  // The final transcript once the stream has ended, when there is any text.
  [[nodiscard]] std::optional<Update> finish();

 private:
  [[nodiscard]] std::optional<Update> report(const std::string& whole, bool isFinal);

  std::string settled_;
  std::size_t lastResultIndex_ = 0;
};

}  // namespace quillet::capture
