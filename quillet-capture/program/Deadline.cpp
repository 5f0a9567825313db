#include "quillet-capture/program/Deadline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace quillet::capture {

namespace {

// Lets exactly one of the two racing parties (the operation and the timer) tell the caller.
class Once {
 public:
  explicit Once(Deadline::Completion completion) : completion_(std::move(completion)) {}

  // Answers the completion to call if this party came first, else an empty one.
  Deadline::Completion claim() {
    std::lock_guard lock(mutex_);
    if (fired_) return {};
    fired_ = true;
    return std::move(completion_);
  }

 private:
  std::mutex mutex_;
  bool fired_ = false;
  Deadline::Completion completion_;
};

// What the timer waits: NaN and negative values run out at once.
double boundedSeconds(double seconds) { return std::isnan(seconds) ? 0.0 : std::max(0.0, seconds); }

}  // namespace

Deadline::Deadline(platform::MainLoop& mainLoop, DiagnosticSink diagnostics, Launcher launcher)
    : mainLoop_(mainLoop), diagnostics_(std::move(diagnostics)), launcher_(std::move(launcher)) {}

void Deadline::onDetachedThread(std::function<void()> work) { std::thread(std::move(work)).detach(); }

std::string Deadline::abandonedLine(const std::string& label, double seconds) {
  char wholeSeconds[32];
  std::snprintf(wholeSeconds, sizeof wholeSeconds, "%.0f", std::trunc(boundedSeconds(seconds)));
  return "[deadline] " + label + " did not finish in " + wholeSeconds + "s \xE2\x80\x94 abandoning it (RULE 6)\n";
}

void Deadline::withDeadline(double seconds, std::string label, Operation operation, Completion completion) const {
  auto once = std::make_shared<Once>(std::move(completion));

  launcher_([once, operation = std::move(operation)] {
    operation([once] {
      if (auto tell = once->claim()) tell(true);
    });
  });

  const double limit = boundedSeconds(seconds);
  if (std::isinf(limit)) return;
  // Timers belong to the main thread; the caller may be on any queue.
  mainLoop_.post([mainLoop = &mainLoop_, diagnostics = diagnostics_, once, limit, label = std::move(label)] {
    mainLoop->after(limit, [diagnostics, once, limit, label] {
      if (auto tell = once->claim()) {
        diagnostics(abandonedLine(label, limit));
        tell(false);
      }
    });
  });
}

}  // namespace quillet::capture
