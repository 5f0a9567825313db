#pragma once

#include <cstdint>
#include <span>

#include "common/result/Expected.h"
#include "platform/AudioFileError.h"

namespace quillet::platform {

// A WAV file of 16-bit signed PCM being written. The header is brought up to date after every append, so the
// file is complete on disk even if the program never gets to close it.
class AudioFileWriter {
 public:
  virtual ~AudioFileWriter() = default;

  // Appends interleaved frames, or answers why they could not all be written.
  virtual Expected<void, AudioFileError> append(std::span<const std::int16_t> interleavedSamples) = 0;

  // Completes the file and closes it; destroying the writer does the same.
  virtual void close() = 0;
};

}  // namespace quillet::platform
