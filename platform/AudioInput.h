#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/result/Expected.h"

namespace quillet::platform {

// Sample rate and channel count of the input as the hardware delivers it.
struct AudioFormat {
  double sampleRate = 0;
  int channelCount = 0;
};

// One tap buffer: non-interleaved 32-bit float samples, one pointer per channel,
// each holding frameCount samples. Valid only during the tap call.
struct AudioBuffer {
  std::vector<const float*> channels;
  std::size_t frameCount = 0;
  AudioFormat format;
};

// The microphone permission as the behaviour knows it; the numbers are the ones it logs.
enum class MicAuthorization { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };

// The default microphone with a tap, like an audio engine's input node.
class AudioInput {
 public:
  using Tap = std::function<void(const AudioBuffer& buffer)>;

  virtual ~AudioInput() = default;

  // Whether the program may record; never notDetermined where no prompt exists.
  virtual MicAuthorization authorization() = 0;

  // Asks the user for access; `completion` may run on any thread.
  virtual void requestAccess(std::function<void(bool granted)> completion) = 0;

  // The input's hardware format, or nothing when there is no input. Safe from any thread.
  virtual std::optional<AudioFormat> hardwareFormat() = 0;

  // Whether the input runs the platform's voice processing (echo cancellation that ducks other audio).
  virtual bool voiceProcessingEnabled() = 0;
  // Switches voice processing on or off; fails with the reason.
  virtual Status setVoiceProcessingEnabled(bool enabled) = 0;

  // Hands buffers of about `bufferFrames` frames to `tap` on the input's own audio thread once started.
  virtual void installTap(std::size_t bufferFrames, Tap tap) = 0;

  // Hands over audio already captured but not yet delivered (on the calling thread), then
  // detaches the tap: once this returns, the tap is never called again.
  virtual void removeTap() = 0;

  // Starts recording; fails with the reason.
  virtual Status start() = 0;
  virtual void stop() = 0;
  [[nodiscard]] virtual bool isRunning() const = 0;

  // Told when recording stopped by itself because the input changed under it: the default input is now
  // another device, or the sound server dropped the recording. The tap stays installed; the owner installs
  // it again for the new format and starts anew.
  using ConfigurationChanged = std::function<void()>;

  // `handler` runs on the input's own audio thread and must not call back into the input; empty to stop
  // hearing of changes. An input whose configuration cannot change (a file) never calls it.
  virtual void setConfigurationChangeHandler(ConfigurationChanged handler) { static_cast<void>(handler); }
};

}  // namespace quillet::platform
