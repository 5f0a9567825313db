#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/AudioActivity.h"
#include "quillet-presence/DeviceUseMonitor.h"

namespace quillet::presence {

// Whether any process plays to an audio output, and which applications do.
class OutputMonitor final : public DeviceUseMonitor {
 public:
  static std::shared_ptr<OutputMonitor> make(platform::MainLoop& mainLoop, platform::AudioActivity& activity);

  [[nodiscard]] bool isRunning() override;

  // The identifiers of the applications playing, each once, sorted.
  [[nodiscard]] std::vector<std::string> outputHolders();

 private:
  OutputMonitor(platform::MainLoop& mainLoop, platform::AudioActivity& activity);

  platform::AudioActivity& activity_;
};

}  // namespace quillet::presence
