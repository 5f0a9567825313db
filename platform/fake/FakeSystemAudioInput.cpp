#include "platform/fake/FakeSystemAudioInput.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/fake/FakeAudioBlocks.h"

namespace quillet::platform::fake {

Expected<SystemAudioContent, SystemAudioFailure> FakeSystemAudioInput::shareableContent() { return content; }

Status FakeSystemAudioInput::start(const SystemAudioScope& scope, AudioFormat format,
                                                       Output output, Failed failed) {
  startedScope = scope;
  startedFormat = format;
  if (startError) return *startError;
  std::lock_guard lock(mutex_);
  output_ = std::move(output);
  failed_ = std::move(failed);
  return succeeded();
}

void FakeSystemAudioInput::stop(Stopped stopped) {
  {
    std::lock_guard lock(mutex_);
    ++stopCount;
    output_ = nullptr;
    failed_ = nullptr;
    if (holdStop) {
      heldStop_ = std::move(stopped);
      return;
    }
  }
  stopped();
}

void FakeSystemAudioInput::finishHeldStop() {
  Stopped stopped;
  {
    std::lock_guard lock(mutex_);
    stopped = std::exchange(heldStop_, nullptr);
  }
  if (stopped) stopped();
}

bool FakeSystemAudioInput::recording() const {
  std::lock_guard lock(mutex_);
  return output_ != nullptr;
}

void FakeSystemAudioInput::deliver(const std::vector<std::vector<float>>& channels) {
  Output output;
  {
    std::lock_guard lock(mutex_);
    output = output_;
  }
  if (!output) return;
  output(bufferOver(channels, startedFormat ? startedFormat->sampleRate : 0));
}

void FakeSystemAudioInput::deliverConstant(float value, double seconds, std::size_t framesPerBuffer) {
  deliverConstantBlocks(value, seconds, startedFormat ? startedFormat->sampleRate : 48000,
                        startedFormat ? std::max(startedFormat->channelCount, 1) : 2, framesPerBuffer,
                        [this](const auto& channels) { deliver(channels); });
}

void FakeSystemAudioInput::fail(const std::string& description) {
  Failed failed;
  {
    std::lock_guard lock(mutex_);
    failed = std::exchange(failed_, nullptr);
  }
  if (failed) failed(description);
}

}  // namespace quillet::platform::fake
