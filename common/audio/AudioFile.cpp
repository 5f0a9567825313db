#include "common/audio/AudioFile.h"

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "common/audio/MonoMix.h"

namespace quillet::audio {

std::vector<float> AudioSamples::mixedToMono() const {
  std::vector<const float*> starts;
  starts.reserve(channels.size());
  for (const auto& channel : channels) starts.push_back(channel.data());
  std::vector<float> mono;
  mixDownToMono(starts, frameCount(), mono);
  return mono;
}

struct AudioFile::State {
  // The bytes read through libsndfile's virtual I/O, for audio opened from memory.
  std::vector<std::uint8_t> bytes;
  sf_count_t position = 0;

  SNDFILE* file = nullptr;
  SF_INFO info{};
  std::size_t framesRead = 0;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    if (file != nullptr) sf_close(file);
  }

  [[nodiscard]] std::size_t frameCount() const { return info.frames > 0 ? std::size_t(info.frames) : 0; }

  // libsndfile's virtual I/O over `bytes`; `userData` is the State.
  static State& of(void* userData) { return *static_cast<State*>(userData); }

  static sf_count_t length(void* userData) { return sf_count_t(of(userData).bytes.size()); }

  static sf_count_t seek(sf_count_t offset, int whence, void* userData) {
    State& state = of(userData);
    const auto end = sf_count_t(state.bytes.size());
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = state.position;
    if (whence == SEEK_END) base = end;
    state.position = std::clamp(base + offset, sf_count_t(0), end);
    return state.position;
  }

  static sf_count_t read(void* destination, sf_count_t count, void* userData) {
    State& state = of(userData);
    const sf_count_t available = sf_count_t(state.bytes.size()) - state.position;
    const sf_count_t taken = std::clamp(count, sf_count_t(0), available);
    if (taken > 0) std::memcpy(destination, state.bytes.data() + state.position, std::size_t(taken));
    state.position += taken;
    return taken;
  }

  // The audio is only ever read.
  static sf_count_t write(const void*, sf_count_t, void*) { return 0; }

  static sf_count_t tell(void* userData) { return of(userData).position; }
};

namespace {

// libsndfile's text for the last failed open; its message buffer is shared by all threads, its numbered texts are not.
std::string lastOpenError() { return sf_error_number(sf_error(nullptr)); }

}  // namespace

AudioFile::AudioFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
AudioFile::AudioFile(AudioFile&&) noexcept = default;
AudioFile& AudioFile::operator=(AudioFile&&) noexcept = default;
AudioFile::~AudioFile() = default;

AudioFileResult<AudioFile> AudioFile::open(const std::filesystem::path& path) {
  auto state = std::make_unique<State>();
  state->file = sf_open(path.c_str(), SFM_READ, &state->info);
  if (state->file == nullptr) {
    const bool readable = ::access(path.c_str(), R_OK) == 0;
    const std::string reason = readable ? lastOpenError() : std::generic_category().message(errno);
    return AudioFileError{"cannot read audio file " + path.string() + ": " + reason};
  }
  return AudioFile(std::move(state));
}

AudioFileResult<AudioFile> AudioFile::openBytes(std::span<const std::uint8_t> bytes) {
  auto state = std::make_unique<State>();
  state->bytes.assign(bytes.begin(), bytes.end());
  SF_VIRTUAL_IO memory{State::length, State::seek, State::read, State::write, State::tell};
  state->file = sf_open_virtual(&memory, SFM_READ, &state->info, state.get());
  if (state->file == nullptr) return AudioFileError{"cannot read audio data: " + lastOpenError()};
  return AudioFile(std::move(state));
}

double AudioFile::sampleRate() const { return double(state_->info.samplerate); }

int AudioFile::channelCount() const { return state_->info.channels; }

std::size_t AudioFile::frameCount() const { return state_->frameCount(); }

AudioFileResult<AudioSamples> AudioFile::readFrames(std::size_t maxFrames) {
  State& state = *state_;
  const auto channelCount = std::size_t(std::max(state.info.channels, 1));
  // Never more than the file holds, so a careless maxFrames cannot ask for a huge buffer.
  const std::size_t wanted = std::min(maxFrames, state.frameCount() - std::min(state.framesRead, state.frameCount()));

  std::vector<float> interleaved(wanted * channelCount);
  const sf_count_t read = wanted == 0 ? 0 : sf_readf_float(state.file, interleaved.data(), sf_count_t(wanted));
  if (const int error = sf_error(state.file); error != SF_ERR_NO_ERROR) {
    return AudioFileError{std::string("cannot read audio samples: ") + sf_error_number(error)};
  }
  const auto frames = std::size_t(std::max(read, sf_count_t(0)));
  state.framesRead += frames;

  AudioSamples samples;
  samples.sampleRate = sampleRate();
  samples.channels.assign(channelCount, std::vector<float>(frames));
  for (std::size_t frame = 0; frame < frames; ++frame) {
    for (std::size_t channel = 0; channel < channelCount; ++channel) {
      samples.channels[channel][frame] = interleaved[frame * channelCount + channel];
    }
  }
  return samples;
}

AudioFileResult<AudioSamples> AudioFile::readRemaining() { return readFrames(frameCount()); }

}  // namespace quillet::audio
