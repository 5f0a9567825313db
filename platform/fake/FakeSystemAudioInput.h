#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/SystemAudioInput.h"

namespace quillet::platform::fake {

// System audio the test plays: deliver() hands a buffer to the output on the calling thread, fail() makes
// the recording stop by itself. Its stop can be held open to look like a stream stop that hangs.
class FakeSystemAudioInput final : public SystemAudioInput {
 public:
  Expected<SystemAudioContent, SystemAudioFailure> shareableContent() override;
  Status start(const SystemAudioScope& scope, AudioFormat format, Output output,
                                   Failed failed) override;
  void stop(Stopped stopped) override;

  // Plays `seconds` of one constant value on every channel of the started format, in buffers of `framesPerBuffer`.
  void deliverConstant(float value, double seconds, std::size_t framesPerBuffer = 4800);
  // Plays one buffer of per-channel samples while recording.
  void deliver(const std::vector<std::vector<float>>& channels);
  // Ends the recording by itself with `description`.
  void fail(const std::string& description);
  // Lets a held stop finish.
  void finishHeldStop();

  // Scripted behaviour.
  Expected<SystemAudioContent, SystemAudioFailure> content = SystemAudioContent{true, {}, {}};
  std::optional<Error> startError;
  bool holdStop = false;

  // What happened.
  [[nodiscard]] bool recording() const;
  std::optional<SystemAudioScope> startedScope;
  std::optional<AudioFormat> startedFormat;
  int stopCount = 0;

 private:
  mutable std::mutex mutex_;
  Output output_;
  Failed failed_;
  Stopped heldStop_;
};

}  // namespace quillet::platform::fake
