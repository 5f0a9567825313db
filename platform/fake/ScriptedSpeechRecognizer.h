#pragma once

#include <cstdint>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/SpeechRecognizer.h"
#include "platform/fake/ScriptedSpeechStream.h"

namespace quillet::platform::fake {

// A recogniser that replays scripted results, one script per call, and records what each call was given.
class ScriptedSpeechRecognizer final : public SpeechRecognizer {
 public:
  // What one call delivers: these results in order, then this failure, if any.
  struct Script {
    std::vector<SpeechResult> results = {};
    std::optional<Error> failure = std::nullopt;
  };

  // What one call was given.
  struct Call {
    std::string locale;
    std::vector<std::int16_t> samples;
    double sampleRate = 0;
  };

  std::vector<std::string> installedLocales() const override;
  std::string installHint(std::string_view locale) const override;
  double preferredSampleRate() const override;
  Status recognize(std::string_view locale, const SpeechAudio& audio,
                                       const ResultHandler& onResult) override;
  // A scripted stream, or `streamFailure` when set. A queued script, if any, is what the stream delivers when
  // finished; otherwise streamFinishResults.
  StreamOpening openStream(std::string_view locale, SpeechStream::Handlers handlers) override;

  // Queues the script of a later call; a call with none queued delivers nothing and succeeds.
  void enqueue(Script script);

  [[nodiscard]] std::vector<Call> calls() const;

  // Every stream opened so far, oldest first.
  [[nodiscard]] std::vector<std::shared_ptr<ScriptedSpeechStream::Control>> streams() const;

  // How often installedLocales() was asked.
  [[nodiscard]] int installedLocalesCalls() const { return installedLocalesCalls_; }

  // Scripted behaviour; set before the calls begin.
  std::vector<std::string> locales{"en-US"};
  double sampleRate = 16000;
  // Runs at the start of each call, for tests that look at the world while recognition runs.
  std::function<void()> duringRecognition;
  // Why openStream() fails, when set.
  std::optional<Error> streamFailure;
  // What a new stream without a queued script delivers when finished (then it ends), and whether streams
  // answer finish at all.
  std::vector<SpeechResult> streamFinishResults;
  bool streamsAnswerFinish = true;

 private:
  mutable std::mutex mutex_;
  std::deque<Script> scripts_;
  std::vector<Call> calls_;
  std::vector<std::shared_ptr<ScriptedSpeechStream::Control>> streams_;
  mutable std::atomic<int> installedLocalesCalls_{0};
};

}  // namespace quillet::platform::fake
