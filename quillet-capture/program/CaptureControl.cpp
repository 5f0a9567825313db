#include "quillet-capture/program/CaptureControl.h"

#include "common/runtime/Weakly.h"

namespace quillet::capture {

CaptureControl::CaptureControl(platform::MainLoop& mainLoop) : mainLoop_(mainLoop) {}

std::shared_ptr<CaptureControl> CaptureControl::make(platform::MainLoop& mainLoop) {
  return std::shared_ptr<CaptureControl>(new CaptureControl(mainLoop));
}

void CaptureControl::set(bool paused) {
  std::lock_guard lock(mutex_);
  paused_ = paused;
  announce(paused_);
}

bool CaptureControl::toggle() {
  std::lock_guard lock(mutex_);
  paused_ = !paused_;
  announce(paused_);
  return paused_;
}

bool CaptureControl::paused() const {
  std::lock_guard lock(mutex_);
  return paused_;
}

void CaptureControl::announce(bool paused) {
  mainLoop_.post(weakly(shared_from_this(), [paused](CaptureControl& control) {
    if (control.onChange) control.onChange(paused);
  }));
}

}  // namespace quillet::capture
