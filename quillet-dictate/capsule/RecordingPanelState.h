#pragma once

#include "common/runtime/Published.h"

namespace quillet::dictate {

// What the recording capsule shows: nothing, the live recording, or the transcript being finished and polished.
enum class RecordingPanelMode { hidden, recording, working };

// The capsule's state as its view reads it. Main thread only.
struct RecordingPanelState {
  Published<RecordingPanelMode> mode{RecordingPanelMode::hidden};
  // Drives the view's appear and disappear animation.
  Published<bool> isVisible{false};
};

}  // namespace quillet::dictate
