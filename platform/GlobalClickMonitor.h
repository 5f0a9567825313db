#pragma once

#include <functional>

#include "common/result/Expected.h"

namespace quillet::platform {

enum class MouseButton { left, right };
enum class MouseTransition { down, up };

// One press or release of a mouse button somewhere on the desktop.
struct GlobalClick {
  MouseButton button = MouseButton::left;
  MouseTransition transition = MouseTransition::down;

  friend bool operator==(const GlobalClick&, const GlobalClick&) = default;
};

// Watches the left and right mouse buttons anywhere on the desktop without taking the events from
// the application they go to. Only the fact of a click is told, never where or into what.
class GlobalClickMonitor {
 public:
  using Handler = std::function<void(const GlobalClick& click)>;

  virtual ~GlobalClickMonitor() = default;

  // `handler` runs on the main loop for every press and release from now on, until the monitor is
  // destroyed. Fails when the desktop cannot be watched; call once.
  virtual Status start(Handler handler) = 0;
};

}  // namespace quillet::platform
