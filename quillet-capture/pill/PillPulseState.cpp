#include "quillet-capture/pill/PillPulseState.h"

#include <cmath>

namespace quillet::capture {

void PillPulseState::start() {
  if (timer_) return;
  timer_ = mainLoop_.every(kTickSeconds, [this] {
    phase_ = phase_ + kStepPerTick;
    phase_ -= std::floor(phase_);
    if (onPhaseChanged) onPhaseChanged();
  });
}

void PillPulseState::stop() {
  if (!timer_) return;
  timer_->cancel();
  timer_.reset();
}

}  // namespace quillet::capture
