#pragma once

#include "platform/AudioFiles.h"

namespace quillet::platform::sndfile {

// Audio files through libsndfile.
class SndfileAudioFiles final : public AudioFiles {
 public:
  Expected<std::unique_ptr<AudioFileReader>, AudioFileError> open(const std::filesystem::path& path) override;
  Expected<std::unique_ptr<AudioFileReader>, AudioFileError> openBytes(std::span<const std::uint8_t> bytes) override;
  Expected<std::unique_ptr<AudioFileWriter>, AudioFileError> pcm16Wav(int descriptor, int sampleRate,
                                                                       int channelCount) override;
};

}  // namespace quillet::platform::sndfile
