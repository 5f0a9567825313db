#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

#include "common/result/Expected.h"
#include "platform/AudioFileReader.h"
#include "platform/AudioFileWriter.h"

namespace quillet::platform {

// Reads audio files (WAV, or any other format the adapter knows) and writes 16-bit WAV files.
// Safe to use from any thread; each reader or writer belongs to one thread at a time.
class AudioFiles {
 public:
  virtual ~AudioFiles() = default;

  virtual Expected<std::unique_ptr<AudioFileReader>, AudioFileError> open(const std::filesystem::path& path) = 0;
  // The reader keeps its own copy of `bytes`.
  virtual Expected<std::unique_ptr<AudioFileReader>, AudioFileError> openBytes(std::span<const std::uint8_t> bytes) = 0;

  // Starts a 16-bit PCM WAV file on `descriptor`, an empty file open for writing that the writer takes over
  // (it is closed with the writer, and at once when the file cannot be started).
  virtual Expected<std::unique_ptr<AudioFileWriter>, AudioFileError> pcm16Wav(int descriptor, int sampleRate,
                                                                               int channelCount) = 0;
};

}  // namespace quillet::platform
