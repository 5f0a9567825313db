#include "platform/linux/sndfile/SndfileAudioFileWriter.h"

#include <unistd.h>

#include <string>
#include <utility>

namespace quillet::platform::sndfile {

Expected<std::unique_ptr<AudioFileWriter>, AudioFileError> SndfileAudioFileWriter::pcm16Wav(int descriptor,
                                                                                             int sampleRate,
                                                                                             int channelCount) {
  std::unique_ptr<SndfileAudioFileWriter> writer(new SndfileAudioFileWriter(descriptor, channelCount));
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channelCount;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  writer->file_ = sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE);
  // The numbered texts, unlike libsndfile's last-message buffer, are not shared between threads.
  if (writer->file_ == nullptr) {
    return AudioFileError{std::string("cannot start WAV file: ") + sf_error_number(sf_error(nullptr))};
  }
  sf_command(writer->file_, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
  return std::unique_ptr<AudioFileWriter>(std::move(writer));
}

SndfileAudioFileWriter::~SndfileAudioFileWriter() { close(); }

Expected<void, AudioFileError> SndfileAudioFileWriter::append(std::span<const std::int16_t> interleavedSamples) {
  if (file_ == nullptr) return AudioFileError{"cannot write audio samples: the file is closed"};
  const auto frames = sf_count_t(interleavedSamples.size()) / channelCount_;
  if (frames == 0) return {};
  const sf_count_t written = sf_writef_short(file_, interleavedSamples.data(), frames);
  if (written != frames) {
    return AudioFileError{std::string("cannot write audio samples: ") + sf_error_number(sf_error(file_))};
  }
  return {};
}

// libsndfile writes the final header on sf_close; the descriptor stays ours, so it is closed after.
void SndfileAudioFileWriter::close() {
  if (file_ != nullptr) sf_close(file_);
  file_ = nullptr;
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

}  // namespace quillet::platform::sndfile
