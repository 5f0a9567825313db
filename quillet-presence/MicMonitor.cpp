#include "quillet-presence/MicMonitor.h"

#include "quillet-presence/IdentifierList.h"

namespace quillet::presence {

std::shared_ptr<MicMonitor> MicMonitor::make(platform::MainLoop& mainLoop, platform::AudioActivity& activity) {
  return std::shared_ptr<MicMonitor>(new MicMonitor(mainLoop, activity));
}

MicMonitor::MicMonitor(platform::MainLoop& mainLoop, platform::AudioActivity& activity)
    : DeviceUseMonitor(mainLoop), activity_(activity) {}

bool MicMonitor::isRunning() { return activity_.isInputRunning(); }

std::vector<std::string> MicMonitor::micHolders() { return sortedUniqueIdentifiers(activity_.inputHolders()); }

}  // namespace quillet::presence
