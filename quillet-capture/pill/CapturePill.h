#pragma once

namespace quillet::capture {

// What the controller asks of the floating pill; the pill itself drives the pause flag and the stop
// action. Main thread only.
class CapturePill {
 public:
  virtual ~CapturePill() = default;

  // Places the pill, starts its pulse and brings it to the front without taking focus.
  virtual void show() = 0;
  virtual void hide() = 0;
};

}  // namespace quillet::capture
