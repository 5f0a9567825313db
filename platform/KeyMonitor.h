#pragma once

#include <functional>

#include "common/result/Expected.h"

namespace quillet::platform {

// Key presses while the HUD is up, in the behaviour's virtual key codes (Return 36, keypad Enter 76, Escape 53, Left
// 123, Right 124, Down 125, Up 126). Presses into the HUD's own window are swallowed when the handler answers that it
// consumed them; presses into other applications are only observed. Main thread only.
class KeyMonitor {
 public:
  // Answers whether the press was consumed.
  using Handler = std::function<bool(int keyCode)>;

  virtual ~KeyMonitor() = default;

  // Starts reporting key-downs to `handler`, replacing any handler installed before.
  virtual Status install(Handler handler) = 0;
  // Stops reporting; nothing happens when no handler is installed.
  virtual void remove() = 0;
};

}  // namespace quillet::platform
