#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/result/Expected.h"
#include "platform/AudioInput.h"

namespace quillet::platform {

// What can be recorded right now.
struct SystemAudioContent {
  // Whether there is an output whose sound can be recorded at all.
  bool hasOutput = false;
  // The identifiers of the applications playing sound now, each once.
  std::vector<std::string> applications;
  // The identifiers of the user's running applications, each once, whether they play sound or not.
  std::vector<std::string> runningApplications;
};

// Why the content could not be read (the sound server is unreachable, say).
struct SystemAudioFailure {
  std::string description;
};

// Whose sound a recording holds: one application's, wherever it plays, or, with no application,
// everything the default output plays.
struct SystemAudioScope {
  std::optional<std::string> applicationBundleId;
};

// The sound other applications play, as a screen-capture stream offers it: float buffers in the format
// asked for, whatever the devices run at.
class SystemAudioInput {
 public:
  // Runs on the input's own thread, one buffer at a time; must not call back into the input.
  using Output = std::function<void(const AudioBuffer& buffer)>;
  // The recording stopped by itself; runs once on the input's own thread; must not call back into the input.
  using Failed = std::function<void(const std::string& description)>;
  // Runs on any thread once the recording has stopped.
  using Stopped = std::function<void()>;

  virtual ~SystemAudioInput() = default;

  // The outputs and playing applications; may wait a few seconds for the sound server.
  virtual Expected<SystemAudioContent, SystemAudioFailure> shareableContent() = 0;

  // Starts recording `scope` as `format` (non-interleaved float). A scoped recording follows the application:
  // streams it opens later join, streams it closes leave, and while it plays nothing no buffers come.
  // Fails with the reason.
  virtual Status start(const SystemAudioScope& scope, AudioFormat format, Output output,
                                           Failed failed) = 0;

  // Hands over what is still held, stops, and tells `stopped`; `output` and `failed` are not called after that.
  virtual void stop(Stopped stopped) = 0;
};

}  // namespace quillet::platform
