#pragma once

#include <functional>
#include <optional>

#include "common/runtime/Weakly.h"
#include "platform/FloatingPanel.h"
#include "platform/MainLoop.h"
#include "platform/MouseLocation.h"
#include "platform/ScreenRect.h"
#include "platform/Screens.h"
#include "platform/Timer.h"
#include "quillet-dictate/capsule/RecordingPanelState.h"

namespace quillet::dictate {

// The recording capsule: a small card near the field that will receive the text, showing the recording and then the
// polishing, with finish and cancel buttons. A passive mirror of the session's model: the owner sets the two flags and
// calls reconcile() on every change; the capsule decides whether to show itself, where, and when to hide. Main thread
// only.
class RecordingPanel {
 public:
  static constexpr double kPanelWidth = 464;
  static constexpr double kPanelHeight = 304;
  static constexpr double kCardWidth = 400;
  static constexpr double kCardHeight = 240;
  // Room for the card's glow on every side of it.
  static constexpr double kCardMargin = 32;
  static constexpr double kAppearDelaySeconds = 0.02;
  // The view's fade-out runs while the panel waits this long before it goes.
  static constexpr double kHideDelaySeconds = 0.55;

  RecordingPanel(platform::FloatingPanel& panel, platform::Screens& screens, platform::MouseLocation& mouse,
                 platform::MainLoop& mainLoop);
  ~RecordingPanel();

  RecordingPanel(const RecordingPanel&) = delete;
  RecordingPanel& operator=(const RecordingPanel&) = delete;

  RecordingPanelState state;
  // The buttons' actions; empty ones do nothing.
  std::function<void()> onFinish;
  std::function<void()> onCancel;
  // The field to stay near, in screen coordinates; nothing places the card at the top of the screen.
  std::function<std::optional<platform::ScreenRect>()> anchorProvider;

  // Mirrors of the session model's flags, set before reconcile().
  bool isRecording = false;
  bool isWorking = false;

  // Shows, moves or hides the capsule to match the two flags.
  void reconcile();
  // Puts the card above the anchor, or below it when there is no room above, inside the usable part of its screen.
  void position();

  // The view's buttons.
  void finish();
  void cancel();

 private:
  platform::FloatingPanel& panel_;
  platform::Screens& screens_;
  platform::MouseLocation& mouse_;
  platform::MainLoop& mainLoop_;
  platform::Timer hideWork_;
  platform::Timer appearWork_;
  // Last, so that delayed work still queued sees this object end before any of its members do.
  Lifetime lifetime_;
};

}  // namespace quillet::dictate
