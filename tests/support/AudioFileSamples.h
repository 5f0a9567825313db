#pragma once

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "common/audio/AudioSamples.h"
#include "platform/linux/sndfile/SndfileAudioFiles.h"

namespace quillet::test {

// Every sample of an audio file as libsndfile reads it; nothing when it cannot be read.
inline std::optional<audio::AudioSamples> audioFileSamples(const std::filesystem::path& file) {
  platform::sndfile::SndfileAudioFiles files;
  auto opened = files.open(file);
  if (opened.failed()) return std::nullopt;
  return opened.value()->readRemaining().toOptional();
}

// The first channel of an audio file as 16-bit samples; nothing when it cannot be read or holds no channel.
inline std::optional<std::vector<std::int16_t>> audioFilePcm16(const std::filesystem::path& file) {
  const auto samples = audioFileSamples(file);
  if (!samples || samples->channels.empty()) return std::nullopt;
  std::vector<std::int16_t> pcm;
  pcm.reserve(samples->channels.front().size());
  for (const float sample : samples->channels.front()) pcm.push_back(std::int16_t(std::lround(sample * 32768.0f)));
  return pcm;
}

}  // namespace quillet::test
