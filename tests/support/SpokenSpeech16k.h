#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/AudioFileSamples.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/SpokenSample.h"

namespace quillet::test {

// `sentences` spoken by espeak-ng with `pauseSeconds` of silence between them, as 16 kHz mono float samples
// (converted by sox without dither, so the same every run); nothing when a tool failed. Scratch files go to
// `folder`.
inline std::optional<std::vector<float>> spokenSpeech16k(const std::filesystem::path& folder,
                                                         const std::vector<std::string>& sentences,
                                                         double pauseSeconds) {
  const auto spoken = folder / "spoken.wav";
  const auto converted = folder / "spoken-16k.wav";
  if (!makeSpokenSample(folder, sentences, pauseSeconds, spoken)) return std::nullopt;
  if (!ChildProcess::runToSuccess("sox", {"-D", spoken.string(), "-r", "16000", "-c", "1", "-b", "16",
                                          converted.string()})) {
    return std::nullopt;
  }
  auto samples = audioFileSamples(converted);
  if (!samples || samples->channels.empty()) return std::nullopt;
  return std::move(samples->channels.front());
}

}  // namespace quillet::test
