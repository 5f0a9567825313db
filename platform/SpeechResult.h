#pragma once

#include <optional>
#include <string>

namespace quillet::platform {

// Where a result's words lie, in seconds from the start of the audio the recogniser was given.
struct SpeechTimeRange {
  double start = 0;
  double duration = 0;

  bool operator==(const SpeechTimeRange&) const = default;
};

// One hypothesis of the recogniser: interim ("volatile") ones may still change, final ones will not.
struct SpeechResult {
  std::string text;
  bool isFinal = false;
  // Nothing when the engine does not know where the words lie.
  std::optional<SpeechTimeRange> range;
};

}  // namespace quillet::platform
