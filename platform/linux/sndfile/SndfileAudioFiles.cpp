#include "platform/linux/sndfile/SndfileAudioFiles.h"

#include "platform/linux/sndfile/SndfileAudioFileReader.h"
#include "platform/linux/sndfile/SndfileAudioFileWriter.h"

namespace quillet::platform::sndfile {

Expected<std::unique_ptr<AudioFileReader>, AudioFileError> SndfileAudioFiles::open(const std::filesystem::path& path) {
  return SndfileAudioFileReader::open(path);
}

Expected<std::unique_ptr<AudioFileReader>, AudioFileError> SndfileAudioFiles::openBytes(
    std::span<const std::uint8_t> bytes) {
  return SndfileAudioFileReader::openBytes(bytes);
}

Expected<std::unique_ptr<AudioFileWriter>, AudioFileError> SndfileAudioFiles::pcm16Wav(int descriptor, int sampleRate,
                                                                                        int channelCount) {
  return SndfileAudioFileWriter::pcm16Wav(descriptor, sampleRate, channelCount);
}

}  // namespace quillet::platform::sndfile
