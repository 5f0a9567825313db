#pragma once

#include <cstddef>

#include "common/audio/AudioSamples.h"
#include "common/result/Expected.h"
#include "platform/AudioFileError.h"

namespace quillet::platform {

// An audio file open for reading. Samples come out as floats whatever the stored type: 16-bit PCM is scaled
// to [-1, 1), float PCM comes out as stored. Reads go forward from the start, in blocks or all at once.
class AudioFileReader {
 public:
  virtual ~AudioFileReader() = default;

  [[nodiscard]] virtual double sampleRate() const = 0;
  [[nodiscard]] virtual int channelCount() const = 0;
  [[nodiscard]] virtual std::size_t frameCount() const = 0;

  // The next `maxFrames` frames or fewer; no frames once the end is reached.
  virtual Expected<audio::AudioSamples, AudioFileError> readFrames(std::size_t maxFrames) = 0;
  // Every frame not read yet.
  virtual Expected<audio::AudioSamples, AudioFileError> readRemaining() = 0;
};

}  // namespace quillet::platform
