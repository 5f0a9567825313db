#include "quillet-dictate/capsule/RecordingPanel.h"

#include <algorithm>
#include <vector>

namespace quillet::dictate {
namespace {

constexpr double kScreenMargin = 8;
constexpr double kFieldGap = 12;
// Without a field the card sits this far below the top of the usable screen, above its own height.
constexpr double kBelowTop = 90;

// The screen the card goes on: the one the anchor overlaps, else the one under the pointer, else the primary one.
const platform::Screen* screenFor(const std::vector<platform::Screen>& screens,
                                  const std::optional<platform::ScreenRect>& anchor,
                                  const std::optional<platform::ScreenPoint>& mouse) {
  if (screens.empty()) return nullptr;
  if (anchor) {
    const auto overlapping = std::find_if(screens.begin(), screens.end(), [&](const platform::Screen& screen) {
      return screen.frame.intersects(*anchor);
    });
    if (overlapping != screens.end()) return &*overlapping;
  }
  return mouse ? &platform::screenContaining(screens, mouse->x, mouse->y) : &screens.front();
}

}  // namespace

RecordingPanel::RecordingPanel(platform::FloatingPanel& panel, platform::Screens& screens,
                               platform::MouseLocation& mouse, platform::MainLoop& mainLoop)
    : panel_(panel), screens_(screens), mouse_(mouse), mainLoop_(mainLoop) {}

RecordingPanel::~RecordingPanel() {
  hideWork_.cancel();
  appearWork_.cancel();
}

void RecordingPanel::reconcile() {
  const RecordingPanelMode mode = isRecording ? RecordingPanelMode::recording
                                  : isWorking ? RecordingPanelMode::working
                                              : RecordingPanelMode::hidden;
  state.mode.set(mode);
  if (mode == RecordingPanelMode::hidden) {
    // A pending appearance would otherwise show the card again after this hide.
    appearWork_.cancel();
    state.isVisible.set(false);
    hideWork_.cancel();
    hideWork_ = mainLoop_.after(kHideDelaySeconds, [this, alive = lifetime_.watch()] {
      if (!alive.ended()) panel_.orderOut();
    });
    return;
  }
  hideWork_.cancel();
  hideWork_ = {};
  position();
  panel_.orderFront();
  // After the panel is on screen, so that the view animates in where it can be seen.
  appearWork_.cancel();
  appearWork_ = mainLoop_.after(kAppearDelaySeconds, [this, alive = lifetime_.watch()] {
    if (!alive.ended()) state.isVisible.set(true);
  });
}

void RecordingPanel::position() {
  const std::optional<platform::ScreenRect> anchor = anchorProvider ? anchorProvider() : std::nullopt;
  const auto screens = screens_.screens();
  const platform::Screen* screen = screenFor(screens, anchor, mouse_.mouseLocation());
  if (screen == nullptr) return;
  const platform::ScreenRect& visible = screen->visibleFrame;
  double centreX = visible.midX();
  double bottom = visible.maxY() - kCardHeight - kBelowTop;
  if (anchor) {
    centreX = anchor->midX();
    bottom = anchor->maxY() + kFieldGap;
    if (bottom + kCardHeight > visible.maxY() - kScreenMargin) {
      bottom = anchor->minY() - kCardHeight - kFieldGap;
      if (bottom < visible.minY() + kScreenMargin) bottom = visible.maxY() - kCardHeight - kFieldGap;
    }
  }
  const double x = std::min(std::max(centreX - kCardWidth / 2, visible.minX() + kScreenMargin),
                            visible.maxX() - kCardWidth - kScreenMargin);
  const double y =
      std::min(std::max(bottom, visible.minY() + kScreenMargin), visible.maxY() - kCardHeight - kScreenMargin);
  panel_.setOrigin({x - kCardMargin, y - kCardMargin});
}

void RecordingPanel::finish() {
  if (onFinish) onFinish();
}

void RecordingPanel::cancel() {
  if (onCancel) onCancel();
}

}  // namespace quillet::dictate
