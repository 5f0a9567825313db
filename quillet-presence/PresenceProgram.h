#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/AudioActivity.h"
#include "platform/Clock.h"
#include "platform/MainLoop.h"
#include "platform/TerminationSignals.h"
#include "platform/Timer.h"
#include "platform/Workspace.h"
#include "quillet-presence/AppMonitor.h"
#include "quillet-presence/MicMonitor.h"
#include "quillet-presence/OutputMonitor.h"
#include "quillet-presence/PresenceState.h"

namespace quillet::presence {

// The presence monitor as the host runs it: the monitors wired into the state, the holders and
// browsers timers, and the signals that end it.
class PresenceProgram {
 public:
  static constexpr double kHoldersFirstDelaySeconds = 0.5;
  static constexpr double kHoldersIntervalSeconds = 1.5;
  static constexpr double kBrowsersIntervalSeconds = 600;

  struct Services {
    platform::MainLoop& mainLoop;
    const platform::Clock& clock;
    platform::AudioActivity& audioActivity;
    platform::Workspace& workspace;
    platform::TerminationSignals& terminationSignals;
  };

  // `exitProcess` ends the process with the given status without writing anything more.
  PresenceProgram(Services services, OutputWriter write, std::function<void(int status)> exitProcess);
  ~PresenceProgram();

  PresenceProgram(const PresenceProgram&) = delete;
  PresenceProgram& operator=(const PresenceProgram&) = delete;

  // Starts the monitors and writes the first lines; the caller then runs the main loop.
  void start();

  [[nodiscard]] const PresenceState& state() const { return state_; }

 private:
  void micChanged(bool running);
  void outputChanged(bool running);
  void applicationsChanged(const std::optional<std::string>& meetingApp, const std::optional<std::string>& bundleId,
                           bool frontmost, const std::optional<std::string>& frontmostBundleId);
  void holdersTick();

  Services services_;
  std::function<void(int)> exitProcess_;
  PresenceState state_;
  std::shared_ptr<MicMonitor> micMonitor_;
  std::shared_ptr<AppMonitor> appMonitor_;
  std::shared_ptr<OutputMonitor> outputMonitor_;
  std::optional<platform::Timer> holdersTimer_;
  std::optional<platform::Timer> browsersTimer_;
};

}  // namespace quillet::presence
