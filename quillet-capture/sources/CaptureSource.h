#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "quillet-capture/protocol/CaptureError.h"
#include "quillet-capture/transcription/Transcriber.h"

namespace quillet::capture {

// One side of a meeting (the microphone, or the meeting's own audio) feeding its transcriber.
// Completions may come on any thread.
class CaptureSource {
 public:
  using StartCompletion = std::function<void(Expected<void, CaptureError> started)>;

  virtual ~CaptureSource() = default;

  // Starts recording into `transcriber`, started for `locale`; `appBundleId` names the meeting
  // application for sources that can follow one.
  virtual void start(std::shared_ptr<Transcriber> transcriber, std::string locale,
                     std::optional<std::string> appBundleId, StartCompletion completion) = 0;

  // Stops recording and the transcriber; harmless when the source never ran.
  virtual void stop(std::function<void()> completion) = 0;
};

// The two sources of one capture, sharing one record of when either last heard something.
struct CaptureSources {
  std::shared_ptr<CaptureSource> microphone;
  std::shared_ptr<CaptureSource> systemAudio;
};

// Makes the sources of a new capture; `onCallEnded` is what the system-audio source calls when
// both sides have been silent long enough to take the call as over.
using CaptureSourcesFactory = std::function<CaptureSources(std::function<void()> onCallEnded)>;

}  // namespace quillet::capture
