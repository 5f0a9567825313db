#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/AudioInput.h"
#include "quillet-capture/protocol/CaptureError.h"
#include "quillet-capture/transcription/Speaker.h"

namespace quillet::capture {

// What every transcription variant offers a capture source. Each method is called once, in
// this order: start, then consume for every buffer, then stop. Owned through std::shared_ptr.
//
// Buffers are the audio port's float buffers: both sources come from the sound server, which
// hands out float samples at the device's rate and channel count, so one sample type serves.
class Transcriber {
 public:
  // Success or the error. May run on any thread; callers return to their own queue.
  using StartCompletion = std::function<void(Expected<void, CaptureError> started)>;
  // May run on any thread.
  using StopCompletion = std::function<void()>;

  virtual ~Transcriber() = default;

  // Prepares to transcribe `speaker` in `locale` ("fr-FR"); called before any audio.
  virtual void start(Speaker speaker, std::string locale, StartCompletion completion) = 0;

  // Takes one buffer on the source's audio thread; must return quickly and never block. The
  // buffer is valid only during the call.
  virtual void consume(const platform::AudioBuffer& buffer) = 0;

  // Finishes the transcript of what was consumed, as far as the variant can, and releases
  // everything; called once at teardown.
  virtual void stop(StopCompletion completion) = 0;
};

}  // namespace quillet::capture
