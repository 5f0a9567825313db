#include "quillet-presence/OutputMonitor.h"

#include "quillet-presence/IdentifierList.h"

namespace quillet::presence {

std::shared_ptr<OutputMonitor> OutputMonitor::make(platform::MainLoop& mainLoop, platform::AudioActivity& activity) {
  return std::shared_ptr<OutputMonitor>(new OutputMonitor(mainLoop, activity));
}

OutputMonitor::OutputMonitor(platform::MainLoop& mainLoop, platform::AudioActivity& activity)
    : DeviceUseMonitor(mainLoop), activity_(activity) {}

bool OutputMonitor::isRunning() { return activity_.isOutputRunning(); }

std::vector<std::string> OutputMonitor::outputHolders() { return sortedUniqueIdentifiers(activity_.outputHolders()); }

}  // namespace quillet::presence
