#include "quillet-capture/protocol/EventWriter.h"

#include <unistd.h>

#include <utility>

#include "common/json/JsonLine.h"
#include "quillet-capture/protocol/FullWrite.h"

namespace quillet::capture {

namespace {

// The encoder's own words for why `value` cannot be encoded.
std::string encodingFailureDescription(const nlohmann::ordered_json& value) {
  try {
    static_cast<void>(value.dump());
  } catch (const nlohmann::json::exception& error) {
    return error.what();
  }
  return "the event could not be encoded";
}

}  // namespace

EventWriter::EventWriter(int outputDescriptor, DiagnosticSink diagnostics)
    : outputDescriptor_(outputDescriptor), diagnostics_(std::move(diagnostics)), queue_(kQueueLabel) {}

EventWriter& EventWriter::shared() {
  static EventWriter writer(STDOUT_FILENO);
  return writer;
}

void EventWriter::emit(Event event, Written written) {
  queue_.async([this, event = std::move(event), written = std::move(written)] {
    write(event);
    if (written) written();
  });
}

void EventWriter::emitWithoutWaiting(Event event) {
  queue_.async([this, event = std::move(event)] { write(event); });
}

std::string EventWriter::lineText(const Event& event) {
  const nlohmann::ordered_json value = event.json();
  if (auto text = json::jsonLineText(value); text.hasValue()) return std::move(text).value() + "\n";
  const Event fallback = Event::error(ErrorCode::captureFailed, "encode failed: " + encodingFailureDescription(value), false);
  // The encoder's descriptions are ASCII, so the fallback itself always encodes.
  return json::jsonLineText(fallback.json())
             .valueOr(R"({"type":"error","code":"CAPTURE_FAILED","message":"encode failed","fatal":false})") +
         "\n";
}

void EventWriter::write(const Event& event) {
  if (outputClosed_) return;
  const std::error_code error = writeFully(outputDescriptor_, lineText(event));
  if (!error) return;
  if (error == std::errc::broken_pipe) {
    outputClosed_ = true;
    diagnostics_("[stdout] the host closed standard output; events are dropped from now on\n");
    return;
  }
  diagnostics_("[stdout] write failed: " + error.message() + "\n");
}

}  // namespace quillet::capture
