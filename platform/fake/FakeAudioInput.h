#pragma once

#include <deque>
#include <mutex>
#include <span>
#include <vector>

#include "platform/AudioInput.h"

namespace quillet::platform::fake {

// A microphone the test plays into: deliver() hands a buffer to the tap on the calling thread.
class FakeAudioInput final : public AudioInput {
 public:
  MicAuthorization authorization() override {
    ++authorizationReads;
    return authorizationStatus;
  }
  void requestAccess(std::function<void(bool granted)> completion) override;
  std::optional<AudioFormat> hardwareFormat() override;
  bool voiceProcessingEnabled() override { return voiceProcessing; }
  Status setVoiceProcessingEnabled(bool enabled) override;
  void installTap(std::size_t bufferFrames, Tap tap) override;
  void removeTap() override;
  Status start() override;
  void stop() override;
  bool isRunning() const override { return running; }
  void setConfigurationChangeHandler(ConfigurationChanged handler) override;

  // Plays one buffer of per-channel samples (all channels the same length) if a tap is installed and running.
  void deliver(const std::vector<std::vector<float>>& channels);
  // Plays `seconds` of one constant value on every channel, in buffers of `framesPerBuffer`.
  void deliverConstant(float value, double seconds, std::size_t framesPerBuffer);

  // Stops recording by itself, as a device change does, and tells the configuration-change handler.
  void changeConfiguration();

  // Scripted behaviour.
  MicAuthorization authorizationStatus = MicAuthorization::authorized;
  std::optional<AudioFormat> format = AudioFormat{48000, 1};
  bool voiceProcessing = false;
  std::optional<Error> voiceProcessingError;
  std::optional<Error> startError;
  // Answers for the next starts, one each, ahead of `startError`; nothing means the start succeeds.
  std::deque<std::optional<Error>> nextStartResults;
  // What requestAccess answers; the completion is kept until answerAccessRequest() when unset.
  std::optional<bool> accessAnswer;
  void answerAccessRequest(bool granted);

  // What happened.
  bool running = false;
  bool tapInstalled() const;
  std::size_t requestedBufferFrames = 0;
  int tapInstallCount = 0;
  int accessRequestCount = 0;
  int startCount = 0;
  // How often the permission was asked for: each ask is a round trip to a real sound server.
  int authorizationReads = 0;
  int stopCount = 0;
  bool hasConfigurationChangeHandler() const;

 private:
  mutable std::mutex mutex_;
  Tap tap_;
  std::function<void(bool)> pendingAccessCompletion_;
  ConfigurationChanged configurationChanged_;
};

}  // namespace quillet::platform::fake
