#include "quillet-dictate/waveform/VoiceLevels.h"

#include <utility>

#include "platform/linux/posix/SystemClock.h"

namespace quillet::dictate {

VoiceLevels::VoiceLevels(const platform::Clock& clock) : clock_(clock) {}

VoiceLevels& VoiceLevels::shared() {
  static const platform::posix::SystemClock systemClock;
  static VoiceLevels instance(systemClock);
  return instance;
}

void VoiceLevels::update(float newRms, std::vector<float> newBands) {
  bands.set(std::move(newBands));
  rms.set(newRms);
  lastUpdate.set(clock_.wallNow());
}

void VoiceLevels::reset() {
  bands.set(std::vector<float>(Levels::kBandCount, 0.0f));
  rms.set(0.0f);
  lastUpdate.set(kDistantPast);
}

}  // namespace quillet::dictate
