#pragma once

#include <chrono>
#include <vector>

#include "common/runtime/Published.h"
#include "platform/Clock.h"
#include "quillet-dictate/audio/Levels.h"

namespace quillet::dictate {

// The process-wide level model the waveforms draw from: the latest display levels
// and when they arrived. Fed once per microphone buffer while recording; main thread only.
class VoiceLevels {
 public:
  using TimePoint = std::chrono::system_clock::time_point;

  // Long before any update, so a waveform reads it as silence that ended ages ago. The Unix
  // epoch rather than the earliest representable instant: any wall time can be subtracted from it
  // without overflowing.
  static constexpr TimePoint kDistantPast{};

  explicit VoiceLevels(const platform::Clock& clock);
  VoiceLevels(const VoiceLevels&) = delete;
  VoiceLevels& operator=(const VoiceLevels&) = delete;


  // Stores one buffer's levels, stamped with the current wall time (set last, so its observers see the whole update).
  void update(float newRms, std::vector<float> newBands);

  // Back to silence that ended in the distant past, as when a recording starts.
  void reset();

  Published<std::vector<float>> bands{std::vector<float>(Levels::kBandCount, 0.0f)};
  Published<float> rms{0.0f};
  Published<TimePoint> lastUpdate{kDistantPast};

 private:
  const platform::Clock& clock_;
};

}  // namespace quillet::dictate
