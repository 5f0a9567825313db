#pragma once

#include <functional>
#include <utility>

#include "platform/TerminationSignals.h"

namespace quillet::platform::fake {

// Termination signals a test delivers by hand.
class FakeTerminationSignals final : public TerminationSignals {
 public:
  void onTermination(std::function<void(int signal)> handler) override { handler_ = std::move(handler); }

  // Runs the handler as the main loop would for `signal`; false when nobody listens.
  bool deliver(int signal) {
    if (!handler_) return false;
    handler_(signal);
    return true;
  }

 private:
  std::function<void(int)> handler_;
};

}  // namespace quillet::platform::fake
