#include "quillet-capture/transcription/BufferedBatchTranscriber.h"

#include <algorithm>
#include <future>
#include <utility>

#include "quillet-capture/transcription/ModelInstallLock.h"
#include "quillet-capture/sources/SampleRateText.h"
#include "quillet-capture/transcription/WindowTranscript.h"

namespace quillet::capture {

BufferedBatchTranscriber::BufferedBatchTranscriber(std::chrono::nanoseconds captureStartedAt, Services services)
    : captureStartedAt_(captureStartedAt),
      clock_(services.clock),
      recognizer_(services.recognizer),
      emit_(std::move(services.emit)),
      diagnostics_(std::move(services.diagnostics)),
      converter_(std::move(services.resamplers)) {}


std::int64_t BufferedBatchTranscriber::elapsedMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock_.monotonicNow() - captureStartedAt_).count();
}

std::string BufferedBatchTranscriber::prefix() const { return "[buffered:" + std::string(rawValue(speaker_)) + "] "; }

void BufferedBatchTranscriber::start(Speaker speaker, std::string locale, StartCompletion completion) {
  speaker_ = speaker;
  const auto installed = recognizer_.installedLocales();
  if (std::find(installed.begin(), installed.end(), locale) == installed.end()) {
    if (completion) completion(ModelInstallLock::missingModel(recognizer_, locale));
    return;
  }
  if (recognizer_.preferredSampleRate() != sampleRate_) {
    if (completion) {
      completion(CaptureError::fromPlatform("the recogniser takes " + sampleRateText(recognizer_.preferredSampleRate()) +
                                            " Hz audio, which this transcriber cannot deliver"));
    }
    return;
  }
  localeId_ = std::move(locale);
  {
    std::lock_guard lock(mutex_);
    windowStartMs_ = elapsedMs();
  }
  diagnostics_(prefix() + "start fmt=" + sampleRateText(sampleRate_) + "Hz window=" + sampleRateText(kWindowSeconds) +
               "s overlap=" + sampleRateText(kOverlapSeconds) + "s\n");
  if (completion) completion({});
}

void BufferedBatchTranscriber::consume(const platform::AudioBuffer& buffer) {
  if (buffer.channels.empty() || buffer.frameCount == 0) return;
  const auto samples = converter_.convert(buffer).valueOr({});
  if (samples.empty()) return;

  std::unique_lock lock(mutex_);
  // After the stop nothing will read them.
  if (stopped_) return;
  samples_.insert(samples_.end(), samples.begin(), samples.end());
  if (samples_.size() < std::size_t(sampleRate_ * kWindowSeconds) || finalizing_) return;

  finalizing_ = true;
  std::vector<std::int16_t> window = std::move(samples_);
  const auto overlap = std::size_t(sampleRate_ * kOverlapSeconds);
  samples_ = window.size() > overlap ? std::vector<std::int16_t>(window.end() - std::ptrdiff_t(overlap), window.end())
                                     : std::vector<std::int16_t>{};
  const std::int64_t startMs = windowStartMs_;
  const std::int64_t endMs = elapsedMs();
  windowStartMs_ = endMs - std::int64_t(kOverlapSeconds * 1000);
  lock.unlock();

  queue_.async([this, window = std::move(window), startMs, endMs] {
    finalizeWindow(window, startMs, endMs);
    std::lock_guard done(mutex_);
    finalizing_ = false;
  });
}

void BufferedBatchTranscriber::stop(StopCompletion completion) {
  std::vector<std::int16_t> rest;
  std::int64_t startMs = 0;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    rest = std::exchange(samples_, {});
    startMs = windowStartMs_;
  }
  const std::int64_t endMs = elapsedMs();
  // Queued behind the window in flight, so its chunks come first and the overlap is compared in order.
  queue_.async([this, rest = std::move(rest), startMs, endMs, completion = std::move(completion)] {
    if (double(rest.size()) / sampleRate_ >= kMinFlushSeconds) finalizeWindow(rest, startMs, endMs);
    if (completion) completion();
  });
}

bool BufferedBatchTranscriber::windowInFlight() const {
  std::lock_guard lock(mutex_);
  return finalizing_;
}

Chunk BufferedBatchTranscriber::placed(Speaker speaker, const TranscriptSegment& segment, std::int64_t startMs,
                                       std::int64_t endMs) {
  const std::int64_t window = std::max<std::int64_t>(endMs - startMs, 0);
  std::int64_t from = startMs;
  std::int64_t to = endMs;
  if (segment.startMs >= 0 && segment.startMs < segment.endMs && segment.endMs <= window + kSegmentSlackMs) {
    from = startMs + segment.startMs;
    to = startMs + segment.endMs;
  }
  return {speaker, segment.text, std::max<std::int64_t>(from, 0), std::max(from, std::min(endMs, to)), true};
}

void BufferedBatchTranscriber::finalizeWindow(const std::vector<std::int16_t>& samples, std::int64_t startMs,
                                              std::int64_t endMs) {
  if (samples.empty()) return;
  auto recognised = batchTranscribe(samples);
  if (recognised.failed()) {
    diagnostics_(prefix() + "finalize error: " + recognised.error().description() + "\n");
    return;
  }
  const auto segments = deduplicator_.dedup(recognised.value());
  for (const auto& segment : segments) emitAndWait(emit_, Event::chunk(placed(speaker_, segment, startMs, endMs)));
}

Expected<std::vector<TranscriptSegment>> BufferedBatchTranscriber::batchTranscribe(
    const std::vector<std::int16_t>& samples) const {
  std::mutex resultsMutex;
  WindowTranscript transcript;
  std::promise<Status> ended;
  auto end = ended.get_future();
  auto opened = recognizer_.openStream(
      localeId_, {[&](const platform::SpeechResult& result) {
                    std::lock_guard lock(resultsMutex);
                    transcript.add(result);
                  },
                  [&](Status ending) { ended.set_value(std::move(ending)); }});
  if (opened.failed()) return opened.error();
  auto& stream = opened.value();
  stream->push(samples);
  stream->finish();
  const Status ending = end.get();
  // The stream calls nothing once destroyed, so the handlers' references end here.
  stream.reset();
  if (ending.failed()) return ending.error();
  std::lock_guard lock(resultsMutex);
  return transcript.segments();
}

}  // namespace quillet::capture
