#pragma once

#include <cstdint>
#include <string>

#include "quillet-capture/transcription/Speaker.h"

namespace quillet::capture {

// One piece of transcript. Times are milliseconds on the capture's time line, whose zero is
// the instant "started" reported.
struct Chunk {
  Speaker speaker = Speaker::you;
  std::string text;  // never empty, trimmed of white space and line breaks by its producer
  std::int64_t start = 0;
  std::int64_t end = 0;
  bool isFinal = false;  // false while later events for the same audio may still replace it

  bool operator==(const Chunk&) const = default;
};

}  // namespace quillet::capture
