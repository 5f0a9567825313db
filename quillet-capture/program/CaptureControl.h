#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/MainLoop.h"

namespace quillet::capture {

// The process-wide pause flag: while it is set, the sources feed no audio to the transcribers.
// Read from audio threads for every buffer and written from the controller and the pill.
class CaptureControl : public std::enable_shared_from_this<CaptureControl> {
 public:
  // A control whose change listener runs on `mainLoop`, which must outlive it.
  static std::shared_ptr<CaptureControl> make(platform::MainLoop& mainLoop);

  CaptureControl(const CaptureControl&) = delete;
  CaptureControl& operator=(const CaptureControl&) = delete;

  // Stores `paused` and tells the listener. Any thread.
  void set(bool paused);

  // Inverts the flag, tells the listener and answers the new value. Any thread.
  bool toggle();

  [[nodiscard]] bool paused() const;

  // The one listener (the pill), told every new value on the main loop, in the order the values
  // were stored. Set once on the main thread by its owner.
  std::function<void(bool paused)> onChange;

 private:
  explicit CaptureControl(platform::MainLoop& mainLoop);

  // Called with `mutex_` held, so the listener hears values in the order they were stored.
  void announce(bool paused);

  platform::MainLoop& mainLoop_;
  mutable std::mutex mutex_;
  bool paused_ = false;
};

}  // namespace quillet::capture
