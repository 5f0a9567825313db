#include "quillet-capture/transcription/LegacyTranscriber.h"

#include <algorithm>
#include <utility>

namespace quillet::capture {

LegacyTranscriber::LegacyTranscriber(std::chrono::nanoseconds captureStartedAt, Services services)
    : captureStartedAt_(captureStartedAt),
      clock_(services.clock),
      recognizer_(services.recognizer),
      mainLoop_(services.mainLoop),
      emit_(std::move(services.emit)),
      diagnostics_(std::move(services.diagnostics)),
      launcher_(std::move(services.launcher)),
      converter_(std::move(services.resamplers)) {}

LegacyTranscriber::~LegacyTranscriber() {
  // Handlers use this object only while not cancelled; the stream member is then destroyed, waiting for them.
  std::lock_guard lock(streamMutex_);
  if (results_) {
    std::lock_guard resultsLock(results_->mutex);
    results_->cancelled = true;
  }
}

void LegacyTranscriber::start(Speaker speaker, std::string locale, StartCompletion completion) {
  speaker_ = speaker;
  const auto installed = recognizer_.installedLocales();
  if (std::find(installed.begin(), installed.end(), locale) == installed.end()) {
    if (completion) completion(CaptureError::recognizerUnsupportedLocale(locale));
    return;
  }
  auto results = std::make_shared<Results>();
  const std::string prefix = "[transcriber:" + std::string(rawValue(speaker)) + "] ";
  auto opened = recognizer_.openStream(
      locale, {[this, results](const platform::SpeechResult& result) {
                 std::lock_guard lock(results->mutex);
                 if (!results->cancelled) handle(results->transcript.add(result));
               },
               [this, results, prefix](const Status& ending) {
                 std::lock_guard lock(results->mutex);
                 if (results->cancelled) return;
                 if (ending.failed()) {
                   diagnostics_(prefix + "task error: " + ending.error().description() + "\n");
                 } else {
                   handle(results->transcript.finish());
                 }
               }});
  if (opened.failed()) {
    diagnostics_(prefix + "recogniser unavailable: " + opened.error().description() + "\n");
    if (completion) completion(CaptureError::recognizerUnavailable());
    return;
  }
  {
    std::lock_guard lock(streamMutex_);
    stream_ = std::move(opened).value();
    results_ = std::move(results);
  }
  if (completion) completion({});
}

void LegacyTranscriber::handle(const std::optional<CumulativeTranscript::Update>& update) const {
  if (!update) return;
  const auto arrivalMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(clock_.monotonicNow() - captureStartedAt_).count();
  emit_(Event::chunk({speaker_, update->text, 0, arrivalMs, update->isFinal}));
}

void LegacyTranscriber::consume(const platform::AudioBuffer& buffer) {
  {
    std::lock_guard lock(streamMutex_);
    if (!stream_) return;
  }
  const auto samples = converter_.convert(buffer).valueOr({});
  if (samples.empty()) return;
  std::lock_guard lock(streamMutex_);
  if (stream_) stream_->push(samples);
}

void LegacyTranscriber::stop(StopCompletion completion) {
  std::shared_ptr<platform::SpeechStream> stream;
  {
    std::lock_guard lock(streamMutex_);
    stream = stream_;
  }
  if (!stream) {
    if (completion) completion();
    return;
  }
  stream->finish();
  // Timers belong to the main loop; stop may be called from any thread.
  mainLoop_.post([weak = weak_from_this(), loop = &mainLoop_, completion = std::move(completion)]() mutable {
    loop->after(kStopWaitSeconds, [weak, completion = std::move(completion)] {
      if (auto self = weak.lock()) self->cancel();
      if (completion) completion();
    });
  });
}

void LegacyTranscriber::cancel() {
  std::shared_ptr<platform::SpeechStream> stream;
  std::shared_ptr<Results> results;
  {
    std::lock_guard lock(streamMutex_);
    stream = std::move(stream_);
    results = std::move(results_);
  }
  if (results) {
    std::lock_guard lock(results->mutex);
    results->cancelled = true;
  }
  // Releasing the stream waits for its decoding to stop, so it is done away from the main loop.
  if (stream) launcher_([stream = std::move(stream)]() mutable { stream.reset(); });
}

}  // namespace quillet::capture
