#pragma once

#include <pulse/context.h>
#include <pulse/mainloop-api.h>
#include <pulse/rtclock.h>
#include <pulse/thread-mainloop.h>

#include <atomic>
#include <functional>
#include <string>

namespace quillet::platform::pulse {

// A threaded main loop called `name`, already running; nothing when it cannot be made or started, which
// `diagnose` hears of as "cannot create the <what>'s main loop" or "cannot start the <what>".
inline pa_threaded_mainloop* startedThreadedLoop(const char* name, const std::string& what,
                                                 const std::function<void(const std::string&)>& diagnose) {
  pa_threaded_mainloop* mainloop = pa_threaded_mainloop_new();
  if (mainloop == nullptr) {
    diagnose("cannot create the " + what + "'s main loop");
    return nullptr;
  }
  pa_threaded_mainloop_set_name(mainloop, name);
  if (pa_threaded_mainloop_start(mainloop) < 0) {
    diagnose("cannot start the " + what);
    pa_threaded_mainloop_free(mainloop);
    return nullptr;
  }
  return mainloop;
}

// Holds a threaded main loop's lock for a scope. The loop's own thread already holds it inside every callback,
// so there it takes nothing. `waiting`, when given, counts the callers queueing for the lock, for whom a busy
// audio thread can step aside.
class LoopLock {
 public:
  explicit LoopLock(pa_threaded_mainloop* mainloop, std::atomic<int>* waiting = nullptr)
      : mainloop_(mainloop != nullptr && pa_threaded_mainloop_in_thread(mainloop) == 0 ? mainloop : nullptr) {
    if (mainloop_ == nullptr) return;
    if (waiting != nullptr) ++*waiting;
    pa_threaded_mainloop_lock(mainloop_);
    if (waiting != nullptr) --*waiting;
  }
  ~LoopLock() {
    if (mainloop_ != nullptr) pa_threaded_mainloop_unlock(mainloop_);
  }
  LoopLock(const LoopLock&) = delete;
  LoopLock& operator=(const LoopLock&) = delete;

 private:
  pa_threaded_mainloop* mainloop_;
};

// Waits on `mainloop` (its lock held) until `done` holds or `timeout` microseconds pass; answers `done()`.
// Whatever the waiter waits for must signal the loop when it changes.
template <typename Done>
bool waitOnLoop(pa_threaded_mainloop* mainloop, pa_context* context, Done done, pa_usec_t timeout) {
  struct Deadline {
    pa_threaded_mainloop* mainloop = nullptr;
    bool passed = false;
  } deadline{mainloop, false};
  auto passed = [](pa_mainloop_api* /*api*/, pa_time_event* /*event*/, const timeval* /*time*/, void* userdata) {
    auto* reached = static_cast<Deadline*>(userdata);
    reached->passed = true;
    pa_threaded_mainloop_signal(reached->mainloop, 0);
  };
  const pa_usec_t end = pa_rtclock_now() + timeout;
  pa_time_event* timer = pa_context_rttime_new(context, end, passed, &deadline);
  // The timer fires only when the loop gets round to it; a loop kept busy still wakes the waiter now
  // and then, who then looks at the clock itself.
  while (!done() && !deadline.passed && pa_rtclock_now() < end) pa_threaded_mainloop_wait(mainloop);
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop);
  if (timer != nullptr) api->time_free(timer);
  return done();
}

}  // namespace quillet::platform::pulse
