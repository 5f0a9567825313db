#include "quillet-capture/sources/ActivityGate.h"

#include <cmath>

namespace quillet::capture {

ActivityGate::ActivityGate(const CaptureControl& control, float rmsFloor) : control_(control), rmsFloor_(rmsFloor) {}

bool ActivityGate::admit(const platform::AudioBuffer& buffer, std::initializer_list<AudioActivity*> activities) const {
  const bool paused = control_.paused();
  if (paused || firstChannelRms(buffer) >= rmsFloor_) {
    for (AudioActivity* activity : activities) {
      if (activity != nullptr) activity->markActive();
    }
  }
  return !paused;
}

float ActivityGate::firstChannelRms(const platform::AudioBuffer& buffer) {
  if (buffer.channels.empty() || buffer.channels.front() == nullptr || buffer.frameCount == 0) return 0.0F;
  const float* samples = buffer.channels.front();
  // Summed in double so that an hour-long buffer of quiet samples does not lose its small terms.
  double sumOfSquares = 0;
  for (std::size_t frame = 0; frame < buffer.frameCount; ++frame) sumOfSquares += double(samples[frame]) * samples[frame];
  return float(std::sqrt(sumOfSquares / double(buffer.frameCount)));
}

}  // namespace quillet::capture
