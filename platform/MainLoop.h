#pragma once

#include <functional>

#include "platform/Timer.h"

namespace quillet::platform {

// The main thread's event loop: every model, timer and callback of the
// behaviour runs on it. Production runs it on Qt; tests on virtual time.
class MainLoop {
 public:
  using Block = std::function<void()>;

  virtual ~MainLoop() = default;

  // Runs `block` on the main thread soon, after what is already queued. Callable from any thread.
  virtual void post(Block block) = 0;

  // Runs `block` once after `seconds`. Main thread only.
  virtual Timer after(double seconds, Block block) = 0;

  // Runs `block` every `seconds` until the timer is cancelled. Main thread only.
  virtual Timer every(double seconds, Block block) = 0;

  // Runs the loop until quit() is called; answers the status given to quit().
  virtual int run() = 0;

  // Makes run() return `status` once the current block is done. Callable from any thread.
  virtual void quit(int status) = 0;
};

}  // namespace quillet::platform
