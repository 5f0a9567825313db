#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace quillet::audio {

// A stretch of audio as 32-bit float samples, one vector per channel, all of the same length.
struct AudioSamples {
  double sampleRate = 0;
  std::vector<std::vector<float>> channels;

  [[nodiscard]] std::size_t frameCount() const { return channels.empty() ? 0 : channels.front().size(); }

  // The average of the channels, frame by frame.
  [[nodiscard]] std::vector<float> mixedToMono() const;
};

// Why audio could not be read.
struct AudioFileError {
  std::string description;
};

template <class Value>
using AudioFileResult = std::variant<Value, AudioFileError>;

// An audio file opened for reading (WAV, or any other format libsndfile knows), from a path or from
// bytes in memory. Samples come out as floats whatever the stored type: 16-bit PCM is scaled to
// [-1, 1), float PCM comes out as stored. Reads go forward from the start, in blocks or all at once.
class AudioFile {
 public:
  static AudioFileResult<AudioFile> open(const std::filesystem::path& path);
  // Keeps its own copy of `bytes`.
  static AudioFileResult<AudioFile> openBytes(std::span<const std::uint8_t> bytes);

  AudioFile(AudioFile&&) noexcept;
  AudioFile& operator=(AudioFile&&) noexcept;
  ~AudioFile();

  [[nodiscard]] double sampleRate() const;
  [[nodiscard]] int channelCount() const;
  [[nodiscard]] std::size_t frameCount() const;

  // The next `maxFrames` frames or fewer; no frames once the end is reached.
  AudioFileResult<AudioSamples> readFrames(std::size_t maxFrames);
  // Every frame not read yet.
  AudioFileResult<AudioSamples> readRemaining();

 private:
  struct State;
  explicit AudioFile(std::unique_ptr<State> state);

  std::unique_ptr<State> state_;
};

}  // namespace quillet::audio
