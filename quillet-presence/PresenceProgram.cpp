#include "quillet-presence/PresenceProgram.h"

namespace quillet::presence {

PresenceProgram::PresenceProgram(Services services, OutputWriter write, std::function<void(int status)> exitProcess)
    : services_(services),
      exitProcess_(std::move(exitProcess)),
      state_(services.clock, services.workspace, std::move(write)),
      micMonitor_(MicMonitor::make(services.mainLoop, services.audioActivity)),
      appMonitor_(AppMonitor::make(services.workspace)),
      outputMonitor_(OutputMonitor::make(services.mainLoop, services.audioActivity)) {
  micMonitor_->onChange = [this](bool running) { micChanged(running); };
  appMonitor_->onChange = [this](const auto& meetingApp, const auto& bundleId, bool frontmost,
                                 const auto& frontmostBundleId) {
    applicationsChanged(meetingApp, bundleId, frontmost, frontmostBundleId);
  };
  outputMonitor_->onChange = [this](bool running) { outputChanged(running); };
}

PresenceProgram::~PresenceProgram() {
  if (holdersTimer_) holdersTimer_->cancel();
  if (browsersTimer_) browsersTimer_->cancel();
  micMonitor_->onChange = nullptr;
  appMonitor_->onChange = nullptr;
  outputMonitor_->onChange = nullptr;
}

void PresenceProgram::start() {
  micMonitor_->start();

  // The holders tick first runs half a second in, then keeps the monitors' pace.
  holdersTimer_ = services_.mainLoop.after(kHoldersFirstDelaySeconds, [this] {
    holdersTick();
    holdersTimer_ = services_.mainLoop.every(kHoldersIntervalSeconds, [this] { holdersTick(); });
  });

  appMonitor_->start();
  outputMonitor_->start();

  state_.emit();
  state_.emitBrowsers();

  browsersTimer_ = services_.mainLoop.every(kBrowsersIntervalSeconds, [this] { state_.emitBrowsers(); });

  services_.terminationSignals.onTermination([this](int) { exitProcess_(0); });
}

void PresenceProgram::micChanged(bool running) {
  if (running == state_.micActive) return;
  state_.micActive = running;
  state_.emit();
}

void PresenceProgram::outputChanged(bool running) {
  if (running == state_.incomingAudio) return;
  state_.incomingAudio = running;
  state_.emit();
}

void PresenceProgram::applicationsChanged(const std::optional<std::string>& meetingApp,
                                          const std::optional<std::string>& bundleId, bool frontmost,
                                          const std::optional<std::string>& frontmostBundleId) {
  if (meetingApp == state_.meetingApp && bundleId == state_.bundleId && frontmost == state_.frontmost &&
      frontmostBundleId == state_.frontmostBundleId) {
    return;
  }
  state_.meetingApp = meetingApp;
  state_.bundleId = bundleId;
  state_.frontmost = frontmost;
  state_.frontmostBundleId = frontmostBundleId;
  state_.emit();
}

void PresenceProgram::holdersTick() {
  // The process lists are read only while something is in use, so an idle desktop costs only the flag polls.
  auto micApps = state_.micActive ? micMonitor_->micHolders() : std::vector<std::string>{};
  auto outputApps =
      (state_.micActive || state_.incomingAudio) ? outputMonitor_->outputHolders() : std::vector<std::string>{};
  if (micApps == state_.micApps && outputApps == state_.outputApps) return;
  state_.micApps = std::move(micApps);
  state_.outputApps = std::move(outputApps);
  state_.emit();
}

}  // namespace quillet::presence
