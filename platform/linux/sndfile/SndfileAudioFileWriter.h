#pragma once

#include <sndfile.h>

#include <memory>

#include "platform/AudioFileWriter.h"

namespace quillet::platform::sndfile {

// A 16-bit PCM WAV file written through libsndfile onto a descriptor it owns.
class SndfileAudioFileWriter final : public AudioFileWriter {
 public:
  static Expected<std::unique_ptr<AudioFileWriter>, AudioFileError> pcm16Wav(int descriptor, int sampleRate,
                                                                              int channelCount);

  SndfileAudioFileWriter(const SndfileAudioFileWriter&) = delete;
  SndfileAudioFileWriter& operator=(const SndfileAudioFileWriter&) = delete;
  ~SndfileAudioFileWriter() override;

  Expected<void, AudioFileError> append(std::span<const std::int16_t> interleavedSamples) override;
  void close() override;

 private:
  SndfileAudioFileWriter(int descriptor, int channelCount) : descriptor_(descriptor), channelCount_(channelCount) {}

  int descriptor_ = -1;
  int channelCount_ = 1;
  SNDFILE* file_ = nullptr;
};

}  // namespace quillet::platform::sndfile
