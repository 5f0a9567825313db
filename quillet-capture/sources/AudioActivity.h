#pragma once

#include <chrono>
#include <mutex>

#include "platform/Clock.h"

namespace quillet::capture {

// When a capture last heard something: one per capture shared by both sources (either side heard), and one
// the system-audio source keeps for the meeting's side alone. Written from audio threads, read by the watchdog.
class AudioActivity {
 public:
  // Counts as heard at creation, so a capture starts with a full silence allowance. `clock` must outlive it.
  explicit AudioActivity(const platform::Clock& clock);

  AudioActivity(const AudioActivity&) = delete;
  AudioActivity& operator=(const AudioActivity&) = delete;

  // Something was heard now.
  void markActive();

  // Seconds since something was last heard.
  [[nodiscard]] double idleSeconds() const;

 private:
  const platform::Clock& clock_;
  mutable std::mutex mutex_;
  std::chrono::nanoseconds lastActiveAt_;
};

}  // namespace quillet::capture
