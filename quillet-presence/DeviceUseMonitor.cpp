#include "quillet-presence/DeviceUseMonitor.h"

namespace quillet::presence {

DeviceUseMonitor::DeviceUseMonitor(platform::MainLoop& mainLoop) : mainLoop_(mainLoop) {}

DeviceUseMonitor::~DeviceUseMonitor() {
  if (timer_) timer_->cancel();
}

void DeviceUseMonitor::start() {
  last_ = isRunning();
  if (onChange) onChange(last_);
  timer_ = mainLoop_.every(kPollSeconds, [weakSelf = weak_from_this()] {
    if (const auto self = weakSelf.lock()) self->poll();
  });
}

void DeviceUseMonitor::poll() {
  const bool running = isRunning();
  if (running == last_) return;
  last_ = running;
  if (onChange) onChange(running);
}

}  // namespace quillet::presence
