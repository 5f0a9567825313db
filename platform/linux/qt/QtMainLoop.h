#pragma once

#include <memory>

#include "platform/MainLoop.h"

class QObject;

namespace quillet::platform::qt {

// The main loop on Qt's event loop. A QCoreApplication (or QApplication) must
// exist before it is created, and it must be created on the main thread.
class QtMainLoop final : public MainLoop {
 public:
  QtMainLoop();
  ~QtMainLoop() override;

  QtMainLoop(const QtMainLoop&) = delete;
  QtMainLoop& operator=(const QtMainLoop&) = delete;

  void post(Block block) override;
  Timer after(double seconds, Block block) override;
  Timer every(double seconds, Block block) override;
  int run() override;
  void quit(int status) override;

 private:
  Timer schedule(double seconds, Block block, bool repeating);

  // Owns the timers and receives posted blocks; lives on the main thread.
  std::unique_ptr<QObject> context_;
};

}  // namespace quillet::platform::qt
