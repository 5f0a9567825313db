#pragma once

#include <functional>
#include <memory>

#include "platform/TerminationSignals.h"

class QSocketNotifier;

namespace quillet::platform::qt {

// SIGTERM and SIGINT read from a signalfd watched by Qt's event loop, so the
// handler runs as an ordinary main-thread callback rather than in signal context.
class QtTerminationSignals final : public TerminationSignals {
 public:
  // Blocks SIGTERM and SIGINT for the calling thread and every thread it starts later;
  // call it first thing in main, before any thread exists.
  static void blockInAllThreads();

  // Needs a QCoreApplication; calls blockInAllThreads() itself in case main did not.
  QtTerminationSignals();
  ~QtTerminationSignals() override;

  QtTerminationSignals(const QtTerminationSignals&) = delete;
  QtTerminationSignals& operator=(const QtTerminationSignals&) = delete;

  void onTermination(std::function<void(int signal)> handler) override;

 private:
  void drain();

  int descriptor_ = -1;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void(int)> handler_;
};

}  // namespace quillet::platform::qt
