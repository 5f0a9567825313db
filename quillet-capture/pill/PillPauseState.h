#pragma once

#include <functional>
#include <string>

namespace quillet::capture {

// The pill's mirror of the pause flag, and what it shows for it.
class PillPauseState {
 public:
  // What the pill shows in one state.
  struct Content {
    std::string title;
    bool dotPaused = false;  // the paused colour without the halo; else the recording colour, pulsing
    std::string primaryLabel;
    std::string primaryIcon;  // empty for a text-only button
    std::string primaryTooltip;
    std::string secondaryLabel;
    std::string secondaryTooltip;

    bool operator==(const Content&) const = default;
  };

  // Takes a notification of the flag: runs on the main loop.
  void flagChanged(bool paused);

  [[nodiscard]] bool paused() const { return paused_; }
  [[nodiscard]] bool everResumed() const { return everResumed_; }
  // Started paused and never let run yet: the capture is only an offer.
  [[nodiscard]] bool isAsk() const { return paused_ && !everResumed_; }

  [[nodiscard]] Content content() const;

  // Called after every change, for the view to redraw.
  std::function<void()> onChange;

 private:
  bool paused_ = false;
  bool everResumed_ = false;
};

}  // namespace quillet::capture
