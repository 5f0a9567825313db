#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>

#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"

namespace quillet::test {

// An X11 window id as xdotool and xprop print it.
using WindowId = unsigned long;

// An application nobody here wrote (mousepad, gedit, xterm), started by a RealDesktop, with its main
// window. The destructor ends it as a logout does, so it has to go before the desktop it runs on.
class DesktopApplication {
 public:
  DesktopApplication(std::string name, std::unique_ptr<ChildProcess> process, std::filesystem::path log)
      : name_(std::move(name)), process_(std::move(process)), log_(std::move(log)) {}

  ~DesktopApplication() {
    if (!isRunning()) return;
    process_->sendSignal(SIGTERM);
    // An editor that asks about unsaved changes instead of ending is not waited for.
    if (process_->waitForExit(std::chrono::seconds(5))) return;
    process_->sendSignal(SIGKILL);
    process_->waitForExit(std::chrono::seconds(5));
  }

  DesktopApplication(const DesktopApplication&) = delete;
  DesktopApplication& operator=(const DesktopApplication&) = delete;

  [[nodiscard]] const std::string& name() const { return name_; }
  [[nodiscard]] pid_t processId() const { return process_->pid(); }

  // The top-level window the desktop saw it map; 0 before that.
  [[nodiscard]] WindowId windowId() const { return window_; }

  [[nodiscard]] bool isRunning() { return !process_->waitForExit(std::chrono::milliseconds(0)); }

  // What it wrote on standard error, for failure messages.
  [[nodiscard]] std::string log() const { return readFile(log_); }

 private:
  friend class RealDesktop;

  std::string name_;
  std::unique_ptr<ChildProcess> process_;
  std::filesystem::path log_;
  WindowId window_ = 0;
};

}  // namespace quillet::test
