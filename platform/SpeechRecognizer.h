#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform {

// Where a result's words lie, in seconds from the start of the audio the recogniser was given.
struct SpeechTimeRange {
  double start = 0;
  double duration = 0;

  bool operator==(const SpeechTimeRange&) const = default;
};

// One hypothesis of the recogniser: interim ("volatile") ones may still change, final ones will not.
struct SpeechResult {
  std::string text;
  bool isFinal = false;
  // Nothing when the engine does not know where the words lie.
  std::optional<SpeechTimeRange> range;
};

// Mono 16-bit samples at one rate.
struct SpeechAudio {
  std::span<const std::int16_t> samples;
  double sampleRate = 0;
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
  // description on failure (no model, wrong sample rate, engine failure), possibly after some results.
  virtual std::optional<std::string> recognize(std::string_view locale, const SpeechAudio& audio,
                                               const ResultHandler& onResult) = 0;
};

}  // namespace quillet::platform
