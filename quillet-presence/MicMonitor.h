#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/AudioActivity.h"
#include "quillet-presence/DeviceUseMonitor.h"

namespace quillet::presence {

// Whether any process records from a microphone, and which applications do.
class MicMonitor final : public DeviceUseMonitor {
 public:
  static std::shared_ptr<MicMonitor> make(platform::MainLoop& mainLoop, platform::AudioActivity& activity);

  [[nodiscard]] bool isRunning() override;

  // The identifiers of the applications recording, each once, sorted.
  [[nodiscard]] std::vector<std::string> micHolders();

 private:
  MicMonitor(platform::MainLoop& mainLoop, platform::AudioActivity& activity);

  platform::AudioActivity& activity_;
};

}  // namespace quillet::presence
