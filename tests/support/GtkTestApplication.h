#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/AccessibilityBus.h"
#include "tests/support/ChildProcess.h"

namespace quillet::test {

// A small GTK application from tests/support (`script`, such as "fields-app.py"), standing in for another
// application on the private desktop, driven through a command pipe and acknowledging on standard error.
class GtkTestApplication {
 public:
  GtkTestApplication(const AccessibilityBus& bus, const std::filesystem::path& folder, const std::string& script)
      : commandPipe_(folder / (script + ".commands")) {
    if (::mkfifo(commandPipe_.c_str(), 0600) != 0) throw std::runtime_error("cannot create the command pipe");
    const auto path = std::filesystem::path(__FILE__).parent_path() / script;
    process_ = std::make_unique<ChildProcess>("/usr/bin/python3", std::vector<std::string>{path.string(), commandPipe_},
                                              bus.environment(), AccessibilityBus::removedVariables());
    if (!process_->waitForStandardError("ready pid=", std::chrono::seconds(30))) {
      throw std::runtime_error(script + " did not start:\n" + process_->standardErrorText());
    }
  }

  // Runs one command and waits for the application to acknowledge it.
  bool run(const std::string& command) {
    const int pipe = ::open(commandPipe_.c_str(), O_WRONLY | O_CLOEXEC);
    if (pipe < 0) return false;
    const std::string line = command + "\n";
    const bool written = ::write(pipe, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(pipe);
    return written && process_->waitForStandardError("done: " + command + "\n");
  }

  [[nodiscard]] int processId() const { return process_->pid(); }

  // Everything the application wrote on standard error so far, its reports included.
  [[nodiscard]] const std::string& output() const { return process_->standardErrorText(); }

 private:
  std::filesystem::path commandPipe_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace quillet::test
