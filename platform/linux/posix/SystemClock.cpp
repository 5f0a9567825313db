#include "platform/linux/posix/SystemClock.h"

namespace quillet::platform::posix {

std::chrono::nanoseconds SystemClock::monotonicNow() const {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

std::chrono::system_clock::time_point SystemClock::wallNow() const { return std::chrono::system_clock::now(); }

}  // namespace quillet::platform::posix
