#pragma once

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace quillet::test {

// An X server of one test's own (Xvfb on the first free display number, which the server picks and
// reports itself, so tests running side by side never collide). The destructor ends it.
class PrivateXServer {
 public:
  PrivateXServer() : PrivateXServer(std::nullopt) {}

  // On display `number` when given, as a server that comes back after a crash does.
  explicit PrivateXServer(std::optional<int> wantedNumber) {
    int numberPipe[2];
    if (::pipe2(numberPipe, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    // Only the write end reaches Xvfb; it writes the display number there once it accepts clients.
    ::fcntl(numberPipe[1], F_SETFD, 0);
    try {
      server_ = std::make_unique<ChildProcess>(
          ChildProcess::pathOf("Xvfb"), serverArguments(wantedNumber, numberPipe[1]), ChildProcess::Environment{},
          std::vector<std::string>{}, ChildProcess::StandardOutput::discarded);
    } catch (...) {
      ::close(numberPipe[0]);
      ::close(numberPipe[1]);
      throw;
    }
    ::close(numberPipe[1]);
    const std::string number = readLine(numberPipe[0], std::chrono::seconds(20));
    ::close(numberPipe[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not report a display:\n" + server_->standardErrorText());
    displayName_ = ":" + number;
  }

  ~PrivateXServer() { stop(); }

  PrivateXServer(const PrivateXServer&) = delete;
  PrivateXServer& operator=(const PrivateXServer&) = delete;

  // What a client passes as its display, e.g. ":7".
  [[nodiscard]] const std::string& displayName() const { return displayName_; }

  // Ends the server, as a logout or a crash does.
  void stop() {
    if (!server_ || server_->waitForExit(std::chrono::milliseconds(0))) return;
    server_->sendSignal(SIGTERM);
    // A server slow to go on a loaded machine would still answer the next client: it is killed then,
    // so that once stop() returns the display is gone.
    if (server_->waitForExit(std::chrono::seconds(5))) return;
    server_->sendSignal(SIGKILL);
    server_->waitForExit(std::chrono::seconds(5));
  }

 private:
  static std::vector<std::string> serverArguments(std::optional<int> number, int numberDescriptor) {
    std::vector<std::string> arguments{
        "-displayfd", std::to_string(numberDescriptor), "-nolisten", "tcp", "-noreset", "-screen", "0", "640x480x24"};
    if (number) arguments.insert(arguments.begin(), ":" + std::to_string(*number));
    return arguments;
  }

  static std::string readLine(int descriptor, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string line;
    while (line.empty() || line.back() != '\n') {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd readable{descriptor, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&readable, 1, int(left.count())) <= 0) return {};
      char character = 0;
      if (::read(descriptor, &character, 1) != 1) return {};
      line.push_back(character);
    }
    line.pop_back();
    return line;
  }

  std::unique_ptr<ChildProcess> server_;
  std::string displayName_;
};

}  // namespace quillet::test
