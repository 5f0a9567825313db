#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "common/result/Expected.h"
#include "platform/SpeechResult.h"
#include "platform/SpeechStream.h"

namespace quillet::platform {

// Mono 16-bit samples at one rate, and the token whose stop request abandons their recognition.
struct SpeechAudio {
  std::span<const std::int16_t> samples;
  double sampleRate = 0;
  std::stop_token stop = {};
};

// The on-device speech recogniser.
class SpeechRecognizer {
 public:
  // Runs on the thread that called recognize(), before recognize() returns.
  using ResultHandler = std::function<void(const SpeechResult& result)>;

  virtual ~SpeechRecognizer() = default;

  // Identifiers ("en-US") of the locales whose models are installed.
  [[nodiscard]] virtual std::vector<std::string> installedLocales() const = 0;

  // What a user does to install the model of `locale`, as a sentence to append to an error text.
  [[nodiscard]] virtual std::string installHint(std::string_view locale) const = 0;

  // The rate recognize() takes its samples at.
  [[nodiscard]] virtual double preferredSampleRate() const = 0;

  // Recognises one buffer of speech in `locale`, delivering interim results while it decodes and the final
  // ones at the end; blocks until done. Safe to call from several worker threads at once. Answers an error
  // description on failure (no model, wrong sample rate, engine failure, a stop requested through the
  // audio's token), possibly after some results.
  virtual Status recognize(std::string_view locale, const SpeechAudio& audio,
                                               const ResultHandler& onResult) = 0;

  // A stream, or why none could be opened (no model, engine failure).
  using StreamOpening = Expected<std::unique_ptr<SpeechStream>>;

  // Opens a continuous recognition in `locale` taking samples at preferredSampleRate(). May wait for the
  // model to load, so not from an audio thread. Safe from several threads at once; each stream decodes
  // on its own thread.
  virtual StreamOpening openStream(std::string_view locale, SpeechStream::Handlers handlers) = 0;
};

}  // namespace quillet::platform
