#pragma once

#include <functional>

namespace quillet::platform {

// Delivers SIGTERM and SIGINT to the main loop as ordinary callbacks.
class TerminationSignals {
 public:
  virtual ~TerminationSignals() = default;

  // `handler` runs on the main thread with the signal number, once per signal received.
  virtual void onTermination(std::function<void(int signal)> handler) = 0;
};

}  // namespace quillet::platform
