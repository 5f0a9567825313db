#pragma once

#include <functional>
#include <future>

#include "quillet-capture/protocol/Event.h"

namespace quillet::capture {

// Hands an event to the writer and tells `written` once it is out; production passes EventWriter::emit.
using EmitAndWait = std::function<void(Event event, std::function<void()> written)>;

// Emits `event` and waits until it is written, so that the events of one producer keep their order.
// Not from the writer's own queue.
inline void emitAndWait(const EmitAndWait& emit, Event event) {
  std::promise<void> written;
  auto done = written.get_future();
  emit(std::move(event), [&written] { written.set_value(); });
  done.wait();
}

}  // namespace quillet::capture
