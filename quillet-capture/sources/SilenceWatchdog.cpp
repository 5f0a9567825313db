#include "quillet-capture/sources/SilenceWatchdog.h"

#include <cmath>

#include "common/runtime/Weakly.h"

namespace quillet::capture {

namespace {

std::string wholeSeconds(double seconds) { return std::to_string(static_cast<long long>(std::trunc(seconds))); }

}  // namespace

std::shared_ptr<SilenceWatchdog> SilenceWatchdog::make(platform::MainLoop& mainLoop, const CaptureControl& control,
                                                       std::shared_ptr<AudioActivity> bothSides,
                                                       std::shared_ptr<AudioActivity> others,
                                                       DiagnosticSink diagnostics, std::function<void()> onCallEnded) {
  return std::shared_ptr<SilenceWatchdog>(new SilenceWatchdog(mainLoop, control, std::move(bothSides),
                                                              std::move(others), std::move(diagnostics),
                                                              std::move(onCallEnded)));
}

SilenceWatchdog::SilenceWatchdog(platform::MainLoop& mainLoop, const CaptureControl& control,
                                 std::shared_ptr<AudioActivity> bothSides, std::shared_ptr<AudioActivity> others,
                                 DiagnosticSink diagnostics, std::function<void()> onCallEnded)
    : mainLoop_(mainLoop),
      control_(control),
      bothSides_(std::move(bothSides)),
      others_(std::move(others)),
      diagnostics_(std::move(diagnostics)),
      onCallEnded_(std::move(onCallEnded)) {}

void SilenceWatchdog::start() {
  timer_.cancel();
  endedFired_ = false;
  timer_ = mainLoop_.every(kPeriodSeconds, weakly(shared_from_this(), [](SilenceWatchdog& watchdog) {
    watchdog.check();
  }));
}

void SilenceWatchdog::cancel() { timer_.cancel(); }

void SilenceWatchdog::check() {
  if (!bothSides_ || endedFired_) return;
  // A paused capture never counts as silent, even while a source delivers no buffers at all (an idle
  // output sends nothing here, unlike a screen-capture stream that sends silence).
  if (control_.paused()) {
    bothSides_->markActive();
    if (others_) others_->markActive();
  }
  const double bothIdle = bothSides_->idleSeconds();
  const double othersIdle = others_ ? others_->idleSeconds() : 0.0;
  if (bothIdle >= kSilenceTimeoutSeconds) {
    end("[capture] both sides silent " + wholeSeconds(bothIdle) + "s \xE2\x86\x92 call ended\n");
  } else if (othersIdle >= kOthersHardCapSeconds) {
    end("[capture] others silent " + wholeSeconds(othersIdle) + "s (hard cap, mic ignored) \xE2\x86\x92 call ended\n");
  }
}

void SilenceWatchdog::end(const std::string& line) {
  endedFired_ = true;
  timer_.cancel();
  if (diagnostics_) diagnostics_(line);
  // Posted, so the owner may tear the capture (and this watchdog) down from it.
  if (onCallEnded_) mainLoop_.post(onCallEnded_);
}

}  // namespace quillet::capture
