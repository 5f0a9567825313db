#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/AudioInput.h"

namespace quillet::platform::pulse {

// Keeps a recording on the clock's time line while nothing it records plays. The monitor of one application's
// streams delivers nothing while the application has no stream open, so on its own a quiet minute would vanish
// from the recording and everything after it would come too early. Once the audio delivered falls more than
// `lagLimit` behind the time passed since start, and no real audio waits to be mixed, silence is delivered
// until it is only one block behind; real audio then carries on from there.
class ClockedSilence {
 public:
  using Deliver = std::function<void(const AudioBuffer& buffer)>;

  ClockedSilence(AudioFormat format, std::size_t blockFrames, double lagLimitSeconds);

  // The recording's zero, in microseconds of a monotonic clock.
  void start(std::uint64_t nowMicroseconds);
  // Real audio was delivered.
  void counted(std::size_t frames);
  // Delivers the silence due at `nowMicroseconds`, in blocks; nothing while `audioWaiting`. With `catchUp`
  // (the recording ends) it fills all the way to now.
  void fill(std::uint64_t nowMicroseconds, bool audioWaiting, bool catchUp, const Deliver& deliver);

  [[nodiscard]] std::uint64_t framesDelivered() const { return delivered_; }

 private:
  [[nodiscard]] std::uint64_t framesAt(std::uint64_t nowMicroseconds) const;

  const AudioFormat format_;
  const std::size_t blockFrames_;
  const std::uint64_t lagLimitFrames_;
  std::uint64_t startMicroseconds_ = 0;
  std::uint64_t delivered_ = 0;
  std::vector<float> zeros_;
  AudioBuffer silence_;
};

}  // namespace quillet::platform::pulse
