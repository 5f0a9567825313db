#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "common/audio/AudioFile.h"

namespace quillet::audio {

// A WAV file of 16-bit signed PCM being written through libsndfile. The header is brought up to date
// after every append, so the file is complete on disk even if the program never gets to close it.
class AudioFileWriter {
 public:
  // Starts the file on `descriptor`, an empty file open for writing that the writer takes over
  // (it is closed with the writer, and at once when the file cannot be started).
  static AudioFileResult<AudioFileWriter> pcm16Wav(int descriptor, int sampleRate, int channelCount);

  AudioFileWriter(AudioFileWriter&&) noexcept;
  AudioFileWriter& operator=(AudioFileWriter&&) noexcept;
  ~AudioFileWriter();

  // Appends interleaved frames; answers why they could not all be written, or nothing.
  [[nodiscard]] std::optional<AudioFileError> append(std::span<const std::int16_t> interleavedSamples);

  // Completes the file and closes it; the destructor does the same.
  void close();

 private:
  struct State;
  explicit AudioFileWriter(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
};

}  // namespace quillet::audio
