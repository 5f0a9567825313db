#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace quillet::test {

// Writes `sentences` spoken by espeak-ng (22.05 kHz mono 16-bit) with `pauseSeconds` of silence
// between them to `sample`; false when espeak-ng or sox failed. Scratch files go to `folder`.
inline bool makeSpokenSample(const std::filesystem::path& folder, const std::vector<std::string>& sentences,
                             double pauseSeconds, const std::filesystem::path& sample) {
  const std::string pause = (folder / "spoken-sample-pause.wav").string();
  if (!ChildProcess::runToSuccess("sox", {"-n", "-r", "22050", "-c", "1", "-b", "16", pause, "trim", "0",
                                          std::to_string(pauseSeconds)})) {
    return false;
  }
  std::vector<std::string> parts;
  for (std::size_t index = 0; index < sentences.size(); ++index) {
    const std::string part = (folder / ("spoken-sample-" + std::to_string(index) + ".wav")).string();
    if (!ChildProcess::runToSuccess("espeak-ng", {"-w", part, sentences[index]})) return false;
    if (index > 0) parts.push_back(pause);
    parts.push_back(part);
  }
  parts.push_back(sample.string());
  return ChildProcess::runToSuccess("sox", parts);
}

}  // namespace quillet::test
