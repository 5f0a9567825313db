#include "quillet-dictate/waveform/VoiceLevels.h"

#include <utility>

namespace quillet::dictate {

VoiceLevels::VoiceLevels(const platform::Clock& clock) : clock_(clock) {}

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
