#include "quillet-capture/sources/AudioActivity.h"

namespace quillet::capture {

AudioActivity::AudioActivity(const platform::Clock& clock) : clock_(clock), lastActiveAt_(clock.monotonicNow()) {}

void AudioActivity::markActive() {
  const auto now = clock_.monotonicNow();
  std::lock_guard lock(mutex_);
  lastActiveAt_ = now;
}

double AudioActivity::idleSeconds() const {
  const auto now = clock_.monotonicNow();
  std::lock_guard lock(mutex_);
  return std::chrono::duration<double>(now - lastActiveAt_).count();
}

}  // namespace quillet::capture
