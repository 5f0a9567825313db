#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "common/runtime/Published.h"
#include "platform/Clock.h"
#include "platform/MainLoop.h"
#include "platform/Timer.h"

namespace quillet::dictate {

// The animation state of one waveform view, kept for the view's life: the smoothed
// energy and line heights carried from redraw to redraw, and a 60 Hz clock whose
// every tick republishes `now` so the view redraws. Main thread only.
class WaveState {
 public:
  static constexpr double kTickInterval = 1.0 / 60.0;

  // Starts the clock on `mainLoop`; the timer holds the state weakly and the state cancels it when destroyed.
  static std::shared_ptr<WaveState> create(platform::MainLoop& mainLoop, const platform::Clock& clock);

  WaveState(const WaveState&) = delete;
  WaveState& operator=(const WaveState&) = delete;
  ~WaveState();

  // Seconds from 1 January 2001, 00:00:00 UTC, to `wallTime`: the animation clock's scale.
  static double secondsSinceReferenceDate(std::chrono::system_clock::time_point wallTime);

  float visualEnergy = 0;
  // One array of point heights per line; empty until the first redraw sizes it.
  std::vector<std::vector<float>> lineBands;
  Published<double> now;

 private:
  explicit WaveState(const platform::Clock& clock);
  void tick();

  const platform::Clock& clock_;
  platform::Timer timer_;
};

}  // namespace quillet::dictate
