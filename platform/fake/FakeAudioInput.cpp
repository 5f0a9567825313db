#include "platform/fake/FakeAudioInput.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/fake/FakeAudioBlocks.h"

namespace quillet::platform::fake {

void FakeAudioInput::requestAccess(std::function<void(bool granted)> completion) {
  ++accessRequestCount;
  if (accessAnswer) {
    completion(*accessAnswer);
  } else {
    pendingAccessCompletion_ = std::move(completion);
  }
}

void FakeAudioInput::answerAccessRequest(bool granted) {
  if (auto completion = std::exchange(pendingAccessCompletion_, nullptr)) completion(granted);
}

std::optional<AudioFormat> FakeAudioInput::hardwareFormat() { return format; }

Status FakeAudioInput::setVoiceProcessingEnabled(bool enabled) {
  if (voiceProcessingError) return *voiceProcessingError;
  voiceProcessing = enabled;
  return succeeded();
}

void FakeAudioInput::installTap(std::size_t bufferFrames, Tap tap) {
  std::lock_guard lock(mutex_);
  requestedBufferFrames = bufferFrames;
  tap_ = std::move(tap);
  ++tapInstallCount;
}

void FakeAudioInput::removeTap() {
  std::lock_guard lock(mutex_);
  tap_ = nullptr;
}

bool FakeAudioInput::tapInstalled() const {
  std::lock_guard lock(mutex_);
  return tap_ != nullptr;
}

Status FakeAudioInput::start() {
  ++startCount;
  std::optional<Error> error = startError;
  if (!nextStartResults.empty()) {
    error = nextStartResults.front();
    nextStartResults.pop_front();
  }
  if (error) return *error;
  running = true;
  return succeeded();
}

void FakeAudioInput::stop() {
  ++stopCount;
  running = false;
}

void FakeAudioInput::setConfigurationChangeHandler(ConfigurationChanged handler) {
  std::lock_guard lock(mutex_);
  configurationChanged_ = std::move(handler);
}

bool FakeAudioInput::hasConfigurationChangeHandler() const {
  std::lock_guard lock(mutex_);
  return configurationChanged_ != nullptr;
}

void FakeAudioInput::changeConfiguration() {
  running = false;
  ConfigurationChanged handler;
  {
    std::lock_guard lock(mutex_);
    handler = configurationChanged_;
  }
  if (handler) handler();
}

void FakeAudioInput::deliver(const std::vector<std::vector<float>>& channels) {
  Tap tap;
  {
    std::lock_guard lock(mutex_);
    tap = tap_;
  }
  if (!tap || !running) return;
  tap(bufferOver(channels, format ? format->sampleRate : 0));
}

void FakeAudioInput::deliverConstant(float value, double seconds, std::size_t framesPerBuffer) {
  deliverConstantBlocks(value, seconds, format ? format->sampleRate : 48000,
                        format ? std::max(format->channelCount, 1) : 1, framesPerBuffer,
                        [this](const auto& channels) { deliver(channels); });
}

}  // namespace quillet::platform::fake
