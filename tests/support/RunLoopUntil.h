#pragma once

#include <functional>

#include "platform/MainLoop.h"
#include "platform/Timer.h"

namespace quillet::test {

// Runs a real main loop until `condition` holds (checked every 10 ms) or `seconds` pass; answers the condition.
inline bool runLoopUntil(platform::MainLoop& loop, const std::function<bool()>& condition, double seconds = 20) {
  if (condition()) return true;
  platform::Timer poll;
  platform::Timer deadline;
  // The loop's quit is queued: asking twice would end the next run before it starts.
  const auto quitOnce = [&] {
    poll.cancel();
    deadline.cancel();
    loop.quit(0);
  };
  poll = loop.every(0.01, [&] {
    if (condition()) quitOnce();
  });
  deadline = loop.after(seconds, quitOnce);
  loop.run();
  poll.cancel();
  deadline.cancel();
  return condition();
}

}  // namespace quillet::test
