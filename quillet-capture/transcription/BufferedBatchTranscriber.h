#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "common/runtime/SerialQueue.h"
#include "platform/Clock.h"
#include "platform/Resampler.h"
#include "platform/SpeechRecognizer.h"
#include "quillet-capture/transcription/Chunk.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "quillet-capture/program/EmitAndWait.h"
#include "quillet-capture/transcription/OverlapDeduplicator.h"
#include "quillet-capture/sources/Pcm16MonoConverter.h"
#include "quillet-capture/transcription/Transcriber.h"
#include "quillet-capture/transcription/TranscriptSegment.h"

namespace quillet::capture {

// The windowed on-device transcriber (QL_CAPTURE_ENGINE=batch): it buffers about 15 s of a source's audio,
// recognises the window as a finished recording and emits its settled transcript as final "chunk" events
// placed in capture time. Windows overlap by 1 s so that no word falls between them; the words the overlap
// repeats are removed. Windows are recognised one at a time, in order, on the transcriber's own queue.
class BufferedBatchTranscriber final : public Transcriber {
 public:
  static constexpr double kWindowSeconds = 15.0;
  static constexpr double kOverlapSeconds = 1.0;
  static constexpr double kMinFlushSeconds = 0.3;
  // A segment may reach this far past its window's end and still keep its own times.
  static constexpr std::int64_t kSegmentSlackMs = 2000;
  static constexpr const char* kQueueLabel = "quillet.buffered.windows";

  struct Services {
    const platform::Clock& clock;
    platform::SpeechRecognizer& recognizer;
    platform::ResamplerFactory resamplers;
    EmitAndWait emit;
    DiagnosticSink diagnostics = writeToStandardError;
  };

  // `captureStartedAt` is the capture's zero on the clock's monotonic time line.
  BufferedBatchTranscriber(std::chrono::nanoseconds captureStartedAt, Services services);


  // Fails when the locale has no model.
  void start(Speaker speaker, std::string locale, StartCompletion completion) override;
  // Converts and buffers; cuts a window when 15 s are buffered and none is being recognised.
  void consume(const platform::AudioBuffer& buffer) override;
  // Waits for the window in flight, then recognises what is left (0.3 s or more), so that every chunk is
  // out, in order, when `completion` runs.
  void stop(StopCompletion completion) override;

  // The chunk of `segment` in a window from `startMs` to `endMs` of the capture: at its own times when
  // they are known and end at most 2 s past the window, else over the whole window.
  // Whether a cut window is still being recognised.
  [[nodiscard]] bool windowInFlight() const;

  [[nodiscard]] static Chunk placed(Speaker speaker, const TranscriptSegment& segment, std::int64_t startMs,
                                    std::int64_t endMs);

 private:
  // The steps below run on queue_ only.
  void finalizeWindow(const std::vector<std::int16_t>& samples, std::int64_t startMs, std::int64_t endMs);
  // The window's segments, or why it could not be recognised.
  [[nodiscard]] Expected<std::vector<TranscriptSegment>> batchTranscribe(
      const std::vector<std::int16_t>& samples) const;

  [[nodiscard]] std::int64_t elapsedMs() const;
  [[nodiscard]] std::string prefix() const;

  const std::chrono::nanoseconds captureStartedAt_;
  const platform::Clock& clock_;
  platform::SpeechRecognizer& recognizer_;
  const EmitAndWait emit_;
  const DiagnosticSink diagnostics_;
  const double sampleRate_ = Pcm16MonoConverter::kOutputRate;

  std::atomic<Speaker> speaker_{Speaker::you};
  std::string localeId_ = "en-US";  // set by start, before any window

  Pcm16MonoConverter converter_;  // the source's thread only

  mutable std::mutex mutex_;  // guards the four below
  std::vector<std::int16_t> samples_;
  std::int64_t windowStartMs_ = 0;
  bool finalizing_ = false;
  bool stopped_ = false;

  OverlapDeduplicator deduplicator_;  // queue_ only

  // Last, so that its destructor runs what is still queued while everything above exists.
  SerialQueue queue_{kQueueLabel};
};

}  // namespace quillet::capture
