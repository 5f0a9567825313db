#pragma once

#include <initializer_list>

#include "platform/AudioInput.h"
#include "quillet-capture/sources/AudioActivity.h"
#include "quillet-capture/program/CaptureControl.h"

namespace quillet::capture {

// The rule both sources apply to every buffer before their transcriber sees it. While the capture is paused
// the buffer is dropped but counts as heard, so a paused capture never reads as silent; otherwise a buffer
// whose first channel is at least as loud (RMS) as the floor counts as heard, and the buffer goes on.
class ActivityGate {
 public:
  // `control` must outlive the gate.
  ActivityGate(const CaptureControl& control, float rmsFloor);

  // Marks the activities that `buffer` counts for (null ones are skipped) and answers whether it goes on
  // to the transcriber. Audio thread; takes the pause lock once and each activity's lock at most once.
  bool admit(const platform::AudioBuffer& buffer, std::initializer_list<AudioActivity*> activities) const;

  // The root mean square of the first channel; 0 for a buffer without samples.
  [[nodiscard]] static float firstChannelRms(const platform::AudioBuffer& buffer);

  [[nodiscard]] float rmsFloor() const { return rmsFloor_; }

 private:
  const CaptureControl& control_;
  const float rmsFloor_;
};

}  // namespace quillet::capture
