#pragma once

#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "platform/AudioFileReader.h"

namespace quillet::platform::sndfile {

// An audio file read through libsndfile, from a path or from bytes in memory.
class SndfileAudioFileReader final : public AudioFileReader {
 public:
  static Expected<std::unique_ptr<AudioFileReader>, AudioFileError> open(const std::filesystem::path& path);
  static Expected<std::unique_ptr<AudioFileReader>, AudioFileError> openBytes(std::span<const std::uint8_t> bytes);

  SndfileAudioFileReader(const SndfileAudioFileReader&) = delete;
  SndfileAudioFileReader& operator=(const SndfileAudioFileReader&) = delete;
  ~SndfileAudioFileReader() override;

  [[nodiscard]] double sampleRate() const override;
  [[nodiscard]] int channelCount() const override;
  [[nodiscard]] std::size_t frameCount() const override;

  Expected<audio::AudioSamples, AudioFileError> readFrames(std::size_t maxFrames) override;
  Expected<audio::AudioSamples, AudioFileError> readRemaining() override;

 private:
  SndfileAudioFileReader() = default;

  // libsndfile's virtual I/O over `bytes_`; `userData` is the reader.
  static SndfileAudioFileReader& of(void* userData) { return *static_cast<SndfileAudioFileReader*>(userData); }
  static sf_count_t length(void* userData);
  static sf_count_t seek(sf_count_t offset, int whence, void* userData);
  static sf_count_t read(void* destination, sf_count_t count, void* userData);
  static sf_count_t write(const void* source, sf_count_t count, void* userData);
  static sf_count_t tell(void* userData);

  // The bytes read through the virtual I/O, for audio opened from memory.
  std::vector<std::uint8_t> bytes_;
  sf_count_t position_ = 0;

  SNDFILE* file_ = nullptr;
  SF_INFO info_{};
  std::size_t framesRead_ = 0;
};

}  // namespace quillet::platform::sndfile
