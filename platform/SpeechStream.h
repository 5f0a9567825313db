#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "common/result/Expected.h"
#include "platform/SpeechResult.h"

namespace quillet::platform {

// One continuous recognition: audio goes in as it arrives, results come out while it is decoded. The
// recogniser finds the utterances itself; each gets provisional results now and then and one settled
// result at its end. Time ranges are measured from the first pushed sample.
class SpeechStream {
 public:
  // The stream's own decoding thread runs these, one call at a time, in order.
  struct Handlers {
    std::function<void(const SpeechResult& result)> onResult;
    // Called once, last: nothing after finish() when everything pushed was decoded, or the error that
    // ended decoding early (the audio after it is dropped).
    std::function<void(Status ending)> onEnd;
  };

  // Stops decoding at the next piece of audio and waits for the decoding thread; no handler runs afterwards.
  // Not from a handler.
  virtual ~SpeechStream() = default;

  // Queues mono samples at the recogniser's preferred rate; callable from any thread, never waits for decoding.
  // Samples pushed after finish() are dropped.
  virtual void push(std::span<const std::int16_t> samples) = 0;

  // Ends the input: what is queued is decoded, the last utterance settled, then onEnd runs.
  virtual void finish() = 0;
};

}  // namespace quillet::platform
