#include "common/audio/AudioFileWriter.h"

#include <sndfile.h>
#include <unistd.h>

#include <string>
#include <utility>

namespace quillet::audio {

struct AudioFileWriter::State {
  int descriptor = -1;
  SNDFILE* file = nullptr;
  int channelCount = 1;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() { close(); }

  // libsndfile writes the final header on sf_close; the descriptor stays ours, so it is closed after.
  void close() {
    if (file != nullptr) sf_close(file);
    file = nullptr;
    if (descriptor >= 0) ::close(descriptor);
    descriptor = -1;
  }
};

AudioFileWriter::AudioFileWriter(std::unique_ptr<State> state) : state_(std::move(state)) {}
AudioFileWriter::AudioFileWriter(AudioFileWriter&&) noexcept = default;
AudioFileWriter& AudioFileWriter::operator=(AudioFileWriter&&) noexcept = default;
AudioFileWriter::~AudioFileWriter() = default;

AudioFileResult<AudioFileWriter> AudioFileWriter::pcm16Wav(int descriptor, int sampleRate, int channelCount) {
  auto state = std::make_unique<State>();
  state->descriptor = descriptor;
  state->channelCount = channelCount;
  SF_INFO info{};
  info.samplerate = sampleRate;
  info.channels = channelCount;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  state->file = sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE);
  // The numbered texts, unlike libsndfile's last-message buffer, are not shared between threads.
  if (state->file == nullptr) {
    return AudioFileError{std::string("cannot start WAV file: ") + sf_error_number(sf_error(nullptr))};
  }
  sf_command(state->file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
  return AudioFileWriter(std::move(state));
}

std::optional<AudioFileError> AudioFileWriter::append(std::span<const std::int16_t> interleavedSamples) {
  if (!state_ || state_->file == nullptr) return AudioFileError{"cannot write audio samples: the file is closed"};
  State& state = *state_;
  const auto frames = sf_count_t(interleavedSamples.size()) / state.channelCount;
  if (frames == 0) return std::nullopt;
  const sf_count_t written = sf_writef_short(state.file, interleavedSamples.data(), frames);
  if (written != frames) {
    return AudioFileError{std::string("cannot write audio samples: ") + sf_error_number(sf_error(state.file))};
  }
  return std::nullopt;
}

void AudioFileWriter::close() {
  if (state_) state_->close();
}

}  // namespace quillet::audio
