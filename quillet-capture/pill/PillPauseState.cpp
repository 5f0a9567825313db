#include "quillet-capture/pill/PillPauseState.h"

namespace quillet::capture {

void PillPauseState::flagChanged(bool paused) {
  paused_ = paused;
  if (!paused) everResumed_ = true;
  if (onChange) onChange();
}

PillPauseState::Content PillPauseState::content() const {
  if (isAsk()) {
    return {"Meeting detected", true, "Start now", "", "Start taking notes", "Ignore", "Don't take notes for this call"};
  }
  if (paused_) return {"Paused", true, "Resume", "", "Resume taking notes", "Stop", "Stop and save the notes"};
  return {"Transcribing", false, "Pause", "pause.fill", "Pause taking notes", "Stop", "Stop and save the notes"};
}

}  // namespace quillet::capture
