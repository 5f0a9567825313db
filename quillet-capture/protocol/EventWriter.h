#pragma once

#include <functional>
#include <string>

#include "common/runtime/SerialQueue.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "quillet-capture/protocol/Event.h"

namespace quillet::capture {

// The one writer of standard output: every event becomes one compact JSON object and a line feed,
// written whole, one event at a time, on the writer's own serial queue and unbuffered.
// When the host has closed standard output, events are dropped quietly after one diagnostic.
class EventWriter {
 public:
  static constexpr const char* kQueueLabel = "quillet.capture.events";

  // Runs on the writer's queue once the line is out (or dropped, when output is gone).
  using Written = std::function<void()>;

  explicit EventWriter(int outputDescriptor, DiagnosticSink diagnostics = writeToStandardError);

  // The writer of the process's standard output.
  static EventWriter& shared();

  // Queues `event`; `written` tells a caller that waits when it has been written. Events queued
  // from one thread are written in that order.
  void emit(Event event, Written written);

  // Queues `event` for a caller that does not wait; callable from any thread.
  void emitWithoutWaiting(Event event);

  // The bytes written for `event`, line feed included: its JSON with "/" as "\/", or, when it
  // cannot be encoded (text that is not UTF-8), a CAPTURE_FAILED error line that says why.
  [[nodiscard]] static std::string lineText(const Event& event);

 private:
  void write(const Event& event);

  int outputDescriptor_;
  DiagnosticSink diagnostics_;
  bool outputClosed_ = false;  // touched on the queue only
  // Last, so that its destruction writes what is still queued while the members above exist.
  SerialQueue queue_;
};

}  // namespace quillet::capture
