#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>

#include "common/result/Expected.h"
#include "platform/AudioFiles.h"
#include "platform/Resampler.h"
#include "platform/SpeechRecognizer.h"
#include "quillet-dictate/backend/AIFailure.h"
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

// Transcribes one WAV chunk with the on-device recogniser, without any network: the chunk goes
// through a private temporary file, is converted to the recogniser's format and recognised in one
// pass; the final results are joined, and without any the longest interim result stands in.
// Blocking and stateless between calls, so several workers may transcribe at the same time.
class SpeechAnalyzerTranscriber {
 public:
  SpeechAnalyzerTranscriber(platform::SpeechRecognizer& recognizer, platform::AudioFiles& files,
                            platform::ResamplerFactory resamplers, const VxLog& log,
                            std::filesystem::path temporaryDirectory);

  // The transcript of `wav` in `locale` ("en-US"), possibly empty; fails when the chunk cannot be
  // read, no model for the locale is installed or recognition fails before it produced anything. A stop
  // requested through `stop` abandons the recognition.
  [[nodiscard]] AIOutcome<std::string> transcribe(std::span<const std::uint8_t> wav, std::string_view locale,
                                                  std::stop_token stop = {}) const;

 private:
  // Succeeds when the recogniser has a model for `locale`, else fails with the error to end the call with.
  [[nodiscard]] Expected<void, AIFailure> ensureLocaleInstalled(std::string_view locale) const;

  platform::SpeechRecognizer& recognizer_;
  platform::AudioFiles& files_;
  platform::ResamplerFactory resamplers_;
  const VxLog& log_;
  std::filesystem::path temporaryDirectory_;
};

}  // namespace quillet::dictate
