#pragma once

#include <cstddef>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "platform/EnvironmentLookup.h"
#include "platform/SpeechRecognizer.h"
#include "platform/linux/pocketsphinx/DecoderPool.h"

namespace quillet::platform::pocketsphinx {

// PocketSphinx with the models found under one folder, laid out as Debian installs them: the locale
// "en-US" lives in the folder "en-us" with the acoustic model "en-us/", the language model "en-us.lm.bin"
// and the dictionary "cmudict-en-us.dict". Loading a model takes a good fraction of a second, so each
// locale keeps a few decoders, made on first need and reused; a call beyond the limit waits for one.
// Missing model files are an error; files that are there but damaged can end the process, since
// PocketSphinx exits on some of them.
class PocketSphinxRecognizer final : public SpeechRecognizer {
 public:
  static constexpr const char* kDefaultModelRoot = "/usr/share/pocketsphinx/model";

  // The models' folder: QUILLET_SPEECH_MODEL_ROOT when set (a folder without models turns recognition
  // off, which tests use), else the Debian packages' folder.
  [[nodiscard]] static std::filesystem::path modelRoot(const EnvironmentLookup& environment);
  static constexpr std::size_t kDefaultDecoderLimit = 2;
  static constexpr double kSampleRate = 16000;
  // Interim results are looked at after each piece of audio of this length.
  static constexpr double kPieceSeconds = 0.25;
  // How long opening a stream waits for a decoder when all are in use: a stream holds its decoder for as long
  // as it lives, so one that never comes back must fail the opening rather than block it for good.
  static constexpr std::chrono::seconds kStreamDecoderPatience{5};

  explicit PocketSphinxRecognizer(std::filesystem::path modelRoot = kDefaultModelRoot,
                                  std::size_t decoderLimit = kDefaultDecoderLimit);
  // No call may still be running and no stream may still exist.
  ~PocketSphinxRecognizer() override;

  PocketSphinxRecognizer(const PocketSphinxRecognizer&) = delete;
  PocketSphinxRecognizer& operator=(const PocketSphinxRecognizer&) = delete;

  std::vector<std::string> installedLocales() const override;
  std::string installHint(std::string_view locale) const override;
  double preferredSampleRate() const override { return kSampleRate; }
  Status recognize(std::string_view locale, const SpeechAudio& audio,
                                       const ResultHandler& onResult) override;
  // Each stream holds one of the locale's decoders until it is destroyed.
  StreamOpening openStream(std::string_view locale, SpeechStream::Handlers handlers) override;

 private:
  // Why `locale` cannot be recognised: no model for it under the models' folder.
  [[nodiscard]] Error missingModel(std::string_view locale) const;

  // The pool of `locale`, made on first use; nothing when its model is not installed.
  DecoderPool* poolFor(std::string_view locale);

  std::filesystem::path modelRoot_;
  std::size_t decoderLimit_;
  std::mutex poolsMutex_;
  std::map<std::string, std::unique_ptr<DecoderPool>, std::less<>> pools_;
};

}  // namespace quillet::platform::pocketsphinx
