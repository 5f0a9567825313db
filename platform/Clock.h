#pragma once

#include <chrono>

namespace quillet::platform {

// Monotonic time for intervals, wall time for what a person reads.
class Clock {
 public:
  virtual ~Clock() = default;

  // Time since an arbitrary fixed point; never goes back.
  [[nodiscard]] virtual std::chrono::nanoseconds monotonicNow() const = 0;

  // The calendar time.
  [[nodiscard]] virtual std::chrono::system_clock::time_point wallNow() const = 0;

  [[nodiscard]] double monotonicSeconds() const {
    return std::chrono::duration<double>(monotonicNow()).count();
  }
};

}  // namespace quillet::platform
