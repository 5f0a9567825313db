#pragma once

#include "platform/Clock.h"

namespace quillet::platform::posix {

// The machine's clocks: CLOCK_MONOTONIC through steady_clock, and the calendar.
class SystemClock final : public Clock {
 public:
  std::chrono::nanoseconds monotonicNow() const override;
  std::chrono::system_clock::time_point wallNow() const override;
};

}  // namespace quillet::platform::posix
