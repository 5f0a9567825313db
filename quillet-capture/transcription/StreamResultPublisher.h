#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/runtime/SerialQueue.h"
#include "platform/SpeechStream.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "quillet-capture/program/EmitAndWait.h"
#include "quillet-capture/transcription/Speaker.h"

namespace quillet::capture {

// Turns one speaker's stream results into "chunk" events on its own queue, in the order the recogniser
// produced them, each written before the next is looked at. Times come from the result's own range:
// 1.2345 s lasting 0.5 s gives 1234 and 1734. Blank results and results without a usable range give no event.
// The stream's thread only queues work here, so nothing it calls can block decoding.
class StreamResultPublisher {
 public:
  static constexpr const char* kQueueLabel = "quillet.transcriber.results";

  // `audioWasFed` tells whether any audio went in yet; it only decides the first result's diagnostic line.
  StreamResultPublisher(Speaker speaker, EmitAndWait emit, DiagnosticSink diagnostics,
                        std::function<bool()> audioWasFed);

  // The handlers to open the stream with; they keep this publisher alive.
  [[nodiscard]] static platform::SpeechStream::Handlers handlersFor(const std::shared_ptr<StreamResultPublisher>& self);

  // Runs `ended` once the stream has ended, with how it ended: on the stream's thread, or at once if it has.
  // The results before the end may still be waiting to be published.
  void whenEnded(std::function<void(const Status& ending)> ended);

  // Runs `finished` on the publisher's queue after every result handed over so far has been published.
  void drain(std::function<void()> finished);

  // Publishes nothing more; results already being written finish.
  void cancel() { cancelled_ = true; }

  [[nodiscard]] int resultCount() const { return resultCount_; }

 private:
  void publish(const platform::SpeechResult& result);
  // On the stream's thread.
  void end(Status ending);
  [[nodiscard]] std::string prefix() const;

  const Speaker speaker_;
  const EmitAndWait emit_;
  const DiagnosticSink diagnostics_;
  const std::function<bool()> audioWasFed_;
  std::atomic<bool> cancelled_{false};
  std::atomic<int> resultCount_{0};

  std::mutex endMutex_;  // guards the three below
  bool ended_ = false;
  Status ending_;
  std::vector<std::function<void(const Status&)>> endWaiters_;

  // Last, so that its destructor runs what is still queued while everything above exists.
  SerialQueue queue_{kQueueLabel};
};

}  // namespace quillet::capture
