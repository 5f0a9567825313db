#pragma once

#include "platform/ScreenPoint.h"

namespace quillet::platform {

// The small prompt that asks the user to click into a text field: a rounded dark translucent panel with a short white
// line of text, above every window, on every desktop, never taking focus or mouse clicks. Made on first use. Main
// thread only.
class PromptWindow {
 public:
  virtual ~PromptWindow() = default;

  // Shows the prompt fully opaque with its bottom-left corner at `origin`, stopping a fade in progress.
  virtual void showAt(ScreenPoint origin) = 0;
  // Fades the prompt out over `seconds` and hides it.
  virtual void fadeOutAndHide(double seconds) = 0;
};

}  // namespace quillet::platform
