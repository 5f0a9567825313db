#include "platform/fake/ScriptedSpeechRecognizer.h"

#include <utility>

namespace quillet::platform::fake {

std::vector<std::string> ScriptedSpeechRecognizer::installedLocales() const {
  ++installedLocalesCalls_;
  return locales;
}

std::string ScriptedSpeechRecognizer::installHint(std::string_view locale) const {
  return "install the scripted model " + std::string(locale);
}

double ScriptedSpeechRecognizer::preferredSampleRate() const { return sampleRate; }

Status ScriptedSpeechRecognizer::recognize(std::string_view locale, const SpeechAudio& audio,
                                                               const ResultHandler& onResult) {
  Script script;
  {
    std::lock_guard lock(mutex_);
    calls_.push_back({std::string(locale), std::vector<std::int16_t>(audio.samples.begin(), audio.samples.end()),
                      audio.sampleRate});
    if (!scripts_.empty()) {
      script = std::move(scripts_.front());
      scripts_.pop_front();
    }
  }
  if (duringRecognition) duringRecognition();
  for (const auto& result : script.results) onResult(result);
  if (script.failure) return *script.failure;
  return succeeded();
}

SpeechRecognizer::StreamOpening ScriptedSpeechRecognizer::openStream(std::string_view locale,
                                                                     SpeechStream::Handlers handlers) {
  if (streamFailure) return *streamFailure;
  std::lock_guard lock(mutex_);
  Script script{streamFinishResults, std::nullopt};
  if (!scripts_.empty()) {
    script = std::move(scripts_.front());
    scripts_.pop_front();
  }
  auto control = std::make_shared<ScriptedSpeechStream::Control>(
      std::string(locale), std::move(handlers), std::move(script.results),
      script.failure ? Status(*script.failure) : succeeded(),
      streamsAnswerFinish);
  streams_.push_back(control);
  return std::unique_ptr<SpeechStream>(std::make_unique<ScriptedSpeechStream>(control));
}

std::vector<std::shared_ptr<ScriptedSpeechStream::Control>> ScriptedSpeechRecognizer::streams() const {
  std::lock_guard lock(mutex_);
  return streams_;
}

void ScriptedSpeechRecognizer::enqueue(Script script) {
  std::lock_guard lock(mutex_);
  scripts_.push_back(std::move(script));
}

std::vector<ScriptedSpeechRecognizer::Call> ScriptedSpeechRecognizer::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

}  // namespace quillet::platform::fake
