#include "platform/linux/pulse/ClockedSilence.h"

#include <algorithm>

namespace quillet::platform::pulse {

ClockedSilence::ClockedSilence(AudioFormat format, std::size_t blockFrames, double lagLimitSeconds)
    : format_(format),
      blockFrames_(std::max<std::size_t>(blockFrames, 1)),
      lagLimitFrames_(std::uint64_t(std::max(lagLimitSeconds, 0.0) * format.sampleRate)),
      zeros_(blockFrames_, 0.0F) {
  silence_.format = format_;
  silence_.channels.assign(std::size_t(std::max(format_.channelCount, 1)), zeros_.data());
}

void ClockedSilence::start(std::uint64_t nowMicroseconds) {
  startMicroseconds_ = nowMicroseconds;
  delivered_ = 0;
}

void ClockedSilence::counted(std::size_t frames) { delivered_ += frames; }

std::uint64_t ClockedSilence::framesAt(std::uint64_t nowMicroseconds) const {
  const std::uint64_t elapsed = nowMicroseconds > startMicroseconds_ ? nowMicroseconds - startMicroseconds_ : 0;
  return std::uint64_t(double(elapsed) * format_.sampleRate / 1e6);
}

void ClockedSilence::fill(std::uint64_t nowMicroseconds, bool audioWaiting, bool catchUp, const Deliver& deliver) {
  if (audioWaiting || !deliver) return;
  const std::uint64_t due = framesAt(nowMicroseconds);
  if (due <= delivered_) return;
  if (!catchUp && due - delivered_ <= lagLimitFrames_) return;
  // Short of the clock by one block, so audio that starts now is not placed after silence meant for the same time.
  const std::uint64_t target = catchUp ? due : due - std::min<std::uint64_t>(due, blockFrames_);
  while (delivered_ < target) {
    silence_.frameCount = std::size_t(std::min<std::uint64_t>(blockFrames_, target - delivered_));
    delivered_ += silence_.frameCount;
    deliver(silence_);
  }
}

}  // namespace quillet::platform::pulse
