#pragma once

#include <functional>
#include <memory>
#include <optional>

#include "platform/MainLoop.h"
#include "platform/Timer.h"

namespace quillet::presence {

// Polls whether a kind of audio device is in use somewhere and reports each change.
// Owned through std::shared_ptr: its timer holds it weakly.
class DeviceUseMonitor : public std::enable_shared_from_this<DeviceUseMonitor> {
 public:
  static constexpr double kPollSeconds = 1.5;

  virtual ~DeviceUseMonitor();

  DeviceUseMonitor(const DeviceUseMonitor&) = delete;
  DeviceUseMonitor& operator=(const DeviceUseMonitor&) = delete;

  // Called with the first value at once and with every later change.
  std::function<void(bool running)> onChange;

  // Reports the current value, then polls every 1.5 s.
  void start();

  // Whether some process uses a device of this kind right now.
  [[nodiscard]] virtual bool isRunning() = 0;

 protected:
  explicit DeviceUseMonitor(platform::MainLoop& mainLoop);

 private:
  void poll();

  platform::MainLoop& mainLoop_;
  std::optional<platform::Timer> timer_;
  bool last_ = false;
};

}  // namespace quillet::presence
