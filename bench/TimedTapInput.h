#pragma once

#include <time.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "platform/AudioInput.h"

namespace quillet::bench {

// An audio input passed through unchanged, except that it adds up the CPU time its tap spends, so that the
// input's own cost on its audio thread can be told from the cost of whoever consumes the audio.
class TimedTapInput final : public platform::AudioInput {
 public:
  explicit TimedTapInput(platform::AudioInput& input) : input_(input) {}

  // CPU seconds spent inside tap calls so far, and how many there were.
  [[nodiscard]] double tapCpuSeconds() const { return double(tapNanoseconds_.load()) / 1e9; }
  [[nodiscard]] std::uint64_t tapCalls() const { return tapCalls_.load(); }

  platform::MicAuthorization authorization() override { return input_.authorization(); }
  void requestAccess(std::function<void(bool granted)> completion) override {
    input_.requestAccess(std::move(completion));
  }
  std::optional<platform::AudioFormat> hardwareFormat() override { return input_.hardwareFormat(); }
  bool voiceProcessingEnabled() override { return input_.voiceProcessingEnabled(); }
  Status setVoiceProcessingEnabled(bool enabled) override {
    return input_.setVoiceProcessingEnabled(enabled);
  }
  void installTap(std::size_t bufferFrames, Tap tap) override {
    input_.installTap(bufferFrames, [this, tap = std::move(tap)](const platform::AudioBuffer& buffer) {
      const long long before = threadCpuNanoseconds();
      tap(buffer);
      tapNanoseconds_ += threadCpuNanoseconds() - before;
      ++tapCalls_;
    });
  }
  void removeTap() override { input_.removeTap(); }
  Status start() override { return input_.start(); }
  void stop() override { input_.stop(); }
  [[nodiscard]] bool isRunning() const override { return input_.isRunning(); }
  void setConfigurationChangeHandler(ConfigurationChanged handler) override {
    input_.setConfigurationChangeHandler(std::move(handler));
  }

 private:
  static long long threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec;
  }

  platform::AudioInput& input_;
  std::atomic<long long> tapNanoseconds_ = 0;
  std::atomic<std::uint64_t> tapCalls_ = 0;
};

}  // namespace quillet::bench
