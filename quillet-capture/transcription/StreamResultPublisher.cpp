#include "quillet-capture/transcription/StreamResultPublisher.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <utility>

#include "common/text/UnicodeText.h"

namespace quillet::capture {

namespace {

// Seconds to whole milliseconds, truncated toward zero.
std::int64_t millisecondsOf(double seconds) { return std::int64_t(std::trunc(seconds * 1000.0)); }

std::string rangeText(const std::optional<platform::SpeechTimeRange>& range) {
  if (!range) return "none";
  char text[64];
  std::snprintf(text, sizeof text, "%.3f+%.3fs", range->start, range->duration);
  return text;
}

// Milliseconds far beyond any capture would overflow on the way to an integer.
bool isUsable(const platform::SpeechTimeRange& range) {
  constexpr double kLimitSeconds = 1e12;
  return std::isfinite(range.start) && std::isfinite(range.duration) && std::fabs(range.start) < kLimitSeconds &&
         std::fabs(range.duration) < kLimitSeconds;
}

}  // namespace

StreamResultPublisher::StreamResultPublisher(Speaker speaker, EmitAndWait emit, DiagnosticSink diagnostics,
                                             std::function<bool()> audioWasFed)
    : speaker_(speaker),
      emit_(std::move(emit)),
      diagnostics_(std::move(diagnostics)),
      audioWasFed_(std::move(audioWasFed)) {}

platform::SpeechStream::Handlers StreamResultPublisher::handlersFor(const std::shared_ptr<StreamResultPublisher>& self) {
  return {[self](const platform::SpeechResult& result) { self->queue_.async([raw = self.get(), result] { raw->publish(result); }); },
          [self](Status ending) { self->end(std::move(ending)); }};
}

std::string StreamResultPublisher::prefix() const { return "[transcriber:" + std::string(rawValue(speaker_)) + "] "; }

void StreamResultPublisher::whenEnded(std::function<void(const Status&)> ended) {
  Status ending;
  {
    std::lock_guard lock(endMutex_);
    if (!ended_) {
      endWaiters_.push_back(std::move(ended));
      return;
    }
    ending = ending_;
  }
  ended(ending);
}

void StreamResultPublisher::drain(std::function<void()> finished) { queue_.async(std::move(finished)); }

void StreamResultPublisher::publish(const platform::SpeechResult& result) {
  if (cancelled_) return;
  const int count = ++resultCount_;
  const std::string text = text::trimmedWhitespaceAndNewlines(result.text);
  if (count == 1 && audioWasFed_ && audioWasFed_()) {
    diagnostics_(prefix() + "result:first isFinal=" + (result.isFinal ? "true" : "false") +
                 " textLen=" + std::to_string(text::characterCount(text)) + " range=" + rangeText(result.range) + "\n");
  }
  if (text.empty()) return;
  // Without a range the words cannot be placed on the capture's time line.
  if (!result.range || !isUsable(*result.range)) return;
  const std::int64_t start = millisecondsOf(result.range->start);
  const std::int64_t end = millisecondsOf(result.range->start + result.range->duration);
  emitAndWait(emit_, Event::chunk({speaker_, text, std::max<std::int64_t>(start, 0), std::max(start, end), result.isFinal}));
}

void StreamResultPublisher::end(Status ending) {
  // The line follows the results already queued.
  if (ending.failed()) {
    queue_.async([this, line = prefix() + "results stream ended: " + ending.error().description() + "\n"] {
      diagnostics_(line);
    });
  }
  std::vector<std::function<void(const Status&)>> waiters;
  {
    std::lock_guard lock(endMutex_);
    if (ended_) return;
    ended_ = true;
    ending_ = ending;
    waiters.swap(endWaiters_);
  }
  for (auto& waiter : waiters) waiter(ending);
}

}  // namespace quillet::capture
