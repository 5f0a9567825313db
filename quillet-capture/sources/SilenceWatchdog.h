#pragma once

#include <functional>
#include <memory>

#include "platform/MainLoop.h"
#include "quillet-capture/sources/AudioActivity.h"
#include "quillet-capture/program/CaptureControl.h"
#include "quillet-capture/program/DiagnosticSink.h"

namespace quillet::capture {

// Decides that a call has ended: every 5 s it looks at how long both sides, and the meeting's side alone,
// have been silent. Both sides silent for 600 s ends the call; so does the meeting silent for 900 s, whatever
// the microphone hears. It ends a call once. Lives on the main loop.
class SilenceWatchdog : public std::enable_shared_from_this<SilenceWatchdog> {
 public:
  static constexpr double kPeriodSeconds = 5.0;
  static constexpr double kSilenceTimeoutSeconds = 600.0;
  static constexpr double kOthersHardCapSeconds = 900.0;

  // `bothSides` and `others` are read on each check; everything must outlive the watchdog or its cancel().
  static std::shared_ptr<SilenceWatchdog> make(platform::MainLoop& mainLoop, const CaptureControl& control,
                                               std::shared_ptr<AudioActivity> bothSides,
                                               std::shared_ptr<AudioActivity> others, DiagnosticSink diagnostics,
                                               std::function<void()> onCallEnded);

  SilenceWatchdog(const SilenceWatchdog&) = delete;
  SilenceWatchdog& operator=(const SilenceWatchdog&) = delete;

  // Checks every 5 s from now on. Main thread.
  void start();
  // No check runs after this. Main thread.
  void cancel();

  [[nodiscard]] bool hasEnded() const { return endedFired_; }

 private:
  SilenceWatchdog(platform::MainLoop& mainLoop, const CaptureControl& control,
                  std::shared_ptr<AudioActivity> bothSides, std::shared_ptr<AudioActivity> others,
                  DiagnosticSink diagnostics, std::function<void()> onCallEnded);

  void check();
  void end(const std::string& line);

  platform::MainLoop& mainLoop_;
  const CaptureControl& control_;
  std::shared_ptr<AudioActivity> bothSides_;
  std::shared_ptr<AudioActivity> others_;
  DiagnosticSink diagnostics_;
  std::function<void()> onCallEnded_;
  platform::Timer timer_;
  bool endedFired_ = false;
};

}  // namespace quillet::capture
