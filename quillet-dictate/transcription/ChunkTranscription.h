#pragma once

#include <functional>
#include <optional>
#include <string>

#include "quillet-dictate/audio/AudioStreamer.h"
#include "quillet-dictate/backend/AIFailure.h"

namespace quillet::dictate {

// What the engine router answers for one chunk.
struct ChunkTranscription {
  std::string text;                     // trimmed of white space and line breaks
  std::optional<std::string> language;  // the engines in use report none
};

// Transcribes one chunk; the completion runs on the main loop.
using ChunkTranscriber =
    std::function<void(const AudioStreamer::Chunk& chunk, std::function<void(AIOutcome<ChunkTranscription>)> completion)>;

}  // namespace quillet::dictate
