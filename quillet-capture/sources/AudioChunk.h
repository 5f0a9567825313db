#pragma once

#include <cstdint>
#include <string>

#include "quillet-capture/transcription/Speaker.h"

namespace quillet::capture {

// One WAV file left for the host to transcribe; times as in Chunk.
struct AudioChunk {
  Speaker speaker = Speaker::you;
  std::string wavPath;  // absolute
  std::int64_t start = 0;
  std::int64_t end = 0;

  bool operator==(const AudioChunk&) const = default;
};

}  // namespace quillet::capture
