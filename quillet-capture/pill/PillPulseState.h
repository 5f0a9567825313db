#pragma once

#include <functional>
#include <optional>

#include "platform/MainLoop.h"
#include "platform/Timer.h"

namespace quillet::capture {

// The animation clock of the pill's status dot: a phase in [0, 1) that goes round once every 1.6 s.
class PillPulseState {
 public:
  static constexpr double kTickSeconds = 1.0 / 30;
  static constexpr double kStepPerTick = 1.0 / 48;

  explicit PillPulseState(platform::MainLoop& mainLoop) : mainLoop_(mainLoop) {}
  ~PillPulseState() { stop(); }

  PillPulseState(const PillPulseState&) = delete;
  PillPulseState& operator=(const PillPulseState&) = delete;

  // Starts ticking; starting twice keeps the one timer.
  void start();
  // Stops ticking; the phase stays where it is.
  void stop();

  [[nodiscard]] double phase() const { return phase_; }
  [[nodiscard]] bool isRunning() const { return timer_.has_value(); }

  // Called after every tick, for the view to redraw.
  std::function<void()> onPhaseChanged;

 private:
  platform::MainLoop& mainLoop_;
  double phase_ = 0;
  std::optional<platform::Timer> timer_;
};

}  // namespace quillet::capture
