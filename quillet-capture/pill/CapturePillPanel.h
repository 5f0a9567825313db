#pragma once

#include <functional>
#include <memory>

#include "platform/DefaultsStore.h"
#include "platform/MainLoop.h"
#include "platform/Screens.h"
#include "quillet-capture/program/CaptureControl.h"
#include "quillet-capture/pill/CapturePill.h"
#include "quillet-capture/pill/PillPauseState.h"
#include "quillet-capture/pill/PillPulseState.h"
#include "quillet-capture/pill/PillWindow.h"

namespace quillet::capture {

// The pill's behaviour: where it is shown, what it remembers, its pulse and its mirror of the pause flag.
// The window is given; the view draws from `pulse()` and `pauseState()` and calls the two button actions.
class CapturePillPanel final : public CapturePill {
 public:
  struct Services {
    platform::MainLoop& mainLoop;
    platform::Screens& screens;
    platform::DefaultsStore& defaults;
    CaptureControl& control;
  };

  // Registers as the pause flag's listener, so it must be made before the first command is handled.
  CapturePillPanel(Services services, PillWindow& window);
  ~CapturePillPanel() override;

  CapturePillPanel(const CapturePillPanel&) = delete;
  CapturePillPanel& operator=(const CapturePillPanel&) = delete;

  void show() override;
  void hide() override;

  // The primary button: flips the pause flag; the shown state follows its notification.
  void primaryPressed();
  // The secondary button: the controller's stop action.
  void secondaryPressed();

  // Set once by the controller.
  std::function<void()> onStop;

  [[nodiscard]] PillPulseState& pulse() { return pulse_; }
  [[nodiscard]] PillPauseState& pauseState() { return pauseState_; }

  void placeInitially();

 private:
  Services services_;
  PillWindow& window_;
  PillPulseState pulse_;
  PillPauseState pauseState_;
};

}  // namespace quillet::capture
