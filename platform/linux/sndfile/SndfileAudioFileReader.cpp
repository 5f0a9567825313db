#include "platform/linux/sndfile/SndfileAudioFileReader.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>
#include <utility>

namespace quillet::platform::sndfile {

namespace {

// libsndfile's text for the last failed open; its message buffer is shared by all threads, its numbered texts are not.
std::string lastOpenError() { return sf_error_number(sf_error(nullptr)); }

}  // namespace

Expected<std::unique_ptr<AudioFileReader>, AudioFileError> SndfileAudioFileReader::open(
    const std::filesystem::path& path) {
  std::unique_ptr<SndfileAudioFileReader> reader(new SndfileAudioFileReader());
  reader->file_ = sf_open(path.c_str(), SFM_READ, &reader->info_);
  if (reader->file_ == nullptr) {
    const bool readable = ::access(path.c_str(), R_OK) == 0;
    const std::string reason = readable ? lastOpenError() : std::generic_category().message(errno);
    return AudioFileError{"cannot read audio file " + path.string() + ": " + reason};
  }
  return std::unique_ptr<AudioFileReader>(std::move(reader));
}

Expected<std::unique_ptr<AudioFileReader>, AudioFileError> SndfileAudioFileReader::openBytes(
    std::span<const std::uint8_t> bytes) {
  std::unique_ptr<SndfileAudioFileReader> reader(new SndfileAudioFileReader());
  reader->bytes_.assign(bytes.begin(), bytes.end());
  SF_VIRTUAL_IO memory{length, seek, read, write, tell};
  reader->file_ = sf_open_virtual(&memory, SFM_READ, &reader->info_, reader.get());
  if (reader->file_ == nullptr) return AudioFileError{"cannot read audio data: " + lastOpenError()};
  return std::unique_ptr<AudioFileReader>(std::move(reader));
}

SndfileAudioFileReader::~SndfileAudioFileReader() {
  if (file_ != nullptr) sf_close(file_);
}

double SndfileAudioFileReader::sampleRate() const { return double(info_.samplerate); }

int SndfileAudioFileReader::channelCount() const { return info_.channels; }

std::size_t SndfileAudioFileReader::frameCount() const { return info_.frames > 0 ? std::size_t(info_.frames) : 0; }

Expected<audio::AudioSamples, AudioFileError> SndfileAudioFileReader::readFrames(std::size_t maxFrames) {
  const auto channels = std::size_t(std::max(info_.channels, 1));
  // Never more than the file holds, so a careless maxFrames cannot ask for a huge buffer.
  const std::size_t wanted = std::min(maxFrames, frameCount() - std::min(framesRead_, frameCount()));

  std::vector<float> interleaved(wanted * channels);
  const sf_count_t framesGot = wanted == 0 ? 0 : sf_readf_float(file_, interleaved.data(), sf_count_t(wanted));
  if (const int error = sf_error(file_); error != SF_ERR_NO_ERROR) {
    return AudioFileError{std::string("cannot read audio samples: ") + sf_error_number(error)};
  }
  const auto frames = std::size_t(std::max(framesGot, sf_count_t(0)));
  framesRead_ += frames;

  audio::AudioSamples samples;
  samples.sampleRate = sampleRate();
  samples.channels.assign(channels, std::vector<float>(frames));
  for (std::size_t frame = 0; frame < frames; ++frame) {
    for (std::size_t channel = 0; channel < channels; ++channel) {
      samples.channels[channel][frame] = interleaved[frame * channels + channel];
    }
  }
  return samples;
}

Expected<audio::AudioSamples, AudioFileError> SndfileAudioFileReader::readRemaining() {
  return readFrames(frameCount());
}

sf_count_t SndfileAudioFileReader::length(void* userData) { return sf_count_t(of(userData).bytes_.size()); }

sf_count_t SndfileAudioFileReader::seek(sf_count_t offset, int whence, void* userData) {
  SndfileAudioFileReader& reader = of(userData);
  const auto end = sf_count_t(reader.bytes_.size());
  sf_count_t base = 0;
  if (whence == SEEK_CUR) base = reader.position_;
  if (whence == SEEK_END) base = end;
  reader.position_ = std::clamp(base + offset, sf_count_t(0), end);
  return reader.position_;
}

sf_count_t SndfileAudioFileReader::read(void* destination, sf_count_t count, void* userData) {
  SndfileAudioFileReader& reader = of(userData);
  const sf_count_t available = sf_count_t(reader.bytes_.size()) - reader.position_;
  const sf_count_t taken = std::clamp(count, sf_count_t(0), available);
  if (taken > 0) std::memcpy(destination, reader.bytes_.data() + reader.position_, std::size_t(taken));
  reader.position_ += taken;
  return taken;
}

// The audio is only ever read.
sf_count_t SndfileAudioFileReader::write(const void* /*source*/, sf_count_t /*count*/, void* /*userData*/) { return 0; }

sf_count_t SndfileAudioFileReader::tell(void* userData) { return of(userData).position_; }

}  // namespace quillet::platform::sndfile
