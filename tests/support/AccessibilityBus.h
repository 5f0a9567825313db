#pragma once

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::test {

// A desktop session of one test's own for accessibility clients: a private X server, a private
// session bus and the AT-SPI bus launcher on it with accessibility switched on. The launcher starts
// the accessibility bus, which starts the AT-SPI registry when the first client asks for it.
// The destructor stops all of them.
class AccessibilityBus {
 public:
  AccessibilityBus() {
    const auto configuration = folder_.path() / "session.conf";
    std::ofstream(configuration) << sessionConfiguration(folder_.path() / "session-bus");
    sessionBus_ = std::make_unique<ChildProcess>(
        ChildProcess::pathOf("dbus-daemon"),
        std::vector<std::string>{"--config-file=" + configuration.string(), "--nofork", "--nopidfile", "--print-address"},
        ChildProcess::Environment{}, std::vector<std::string>{}, ChildProcess::StandardOutput::withStandardError);
    if (!sessionBus_->waitForStandardError(",guid=")) {
      throw std::runtime_error("the session bus did not start:\n" + sessionBus_->standardErrorText());
    }
    sessionBusAddress_ = "unix:path=" + (folder_.path() / "session-bus").string();

    busLauncher_ = std::make_unique<ChildProcess>(launcherPath(), std::vector<std::string>{"--launch-immediately", "--a11y=1"},
                                                  environment(), removedVariables(),
                                                  ChildProcess::StandardOutput::discarded);
    if (!waitForLauncher(std::chrono::seconds(20))) {
      throw std::runtime_error("the AT-SPI bus launcher did not answer:\n" + busLauncher_->standardErrorText());
    }
  }

  ~AccessibilityBus() {
    // The launcher ends with its session bus and takes the accessibility bus and the registry along.
    if (sessionBus_) {
      sessionBus_->sendSignal(SIGTERM);
      sessionBus_->waitForExit(std::chrono::seconds(5));
    }
    if (busLauncher_ && !busLauncher_->waitForExit(std::chrono::seconds(5))) {
      busLauncher_->sendSignal(SIGTERM);
      busLauncher_->waitForExit(std::chrono::seconds(5));
    }
  }

  AccessibilityBus(const AccessibilityBus&) = delete;
  AccessibilityBus& operator=(const AccessibilityBus&) = delete;

  [[nodiscard]] const std::string& displayName() const { return xServer_.displayName(); }
  [[nodiscard]] const std::string& sessionBusAddress() const { return sessionBusAddress_; }

  // What a client of this desktop sets in its environment. The runtime folder keeps the accessibility
  // bus's socket private; settings live in memory, since the launcher keeps its accessibility switch
  // there and no settings service runs on this session bus.
  [[nodiscard]] ChildProcess::Environment environment() const {
    return {{"DISPLAY", displayName()},
            {"DBUS_SESSION_BUS_ADDRESS", sessionBusAddress_},
            {"XDG_RUNTIME_DIR", folder_.path().string()},
            {"GSETTINGS_BACKEND", "memory"}};
  }

  // ...and what it removes: anything that would point it at another accessibility bus or switch GTK's bridge off.
  static std::vector<std::string> removedVariables() { return {"AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE", "WAYLAND_DISPLAY"}; }

  // Switches the desktop's accessibility status, as a settings panel does.
  void setAccessibilityEnabled(bool enabled) const {
    runDbusSend({"--dest=org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status",
                 "string:IsEnabled", std::string("variant:boolean:") + (enabled ? "true" : "false")});
  }

 private:
  // A session bus that activates nothing by itself, so the only bus launcher is the one started here.
  static std::string sessionConfiguration(const std::filesystem::path& socket) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path=" + socket.string() + "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
  }

  // Debian keeps the launcher in /usr/libexec; older releases kept it beside the registry.
  static std::string launcherPath() {
    for (const char* candidate : {"/usr/libexec/at-spi-bus-launcher", "/usr/lib/at-spi2-core/at-spi-bus-launcher"}) {
      if (::access(candidate, X_OK) == 0) return candidate;
    }
    return "/usr/libexec/at-spi-bus-launcher";
  }

  bool runDbusSend(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"--session", "--print-reply"});
    ChildProcess send(ChildProcess::pathOf("dbus-send"), arguments, environment(), {},
                      ChildProcess::StandardOutput::discarded);
    const auto status = send.waitForExit(std::chrono::seconds(10));
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  bool waitForLauncher(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (runDbusSend({"--dest=org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus.GetAddress"})) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  TemporaryDirectory folder_;
  PrivateXServer xServer_;
  std::string sessionBusAddress_;
  std::unique_ptr<ChildProcess> sessionBus_;
  std::unique_ptr<ChildProcess> busLauncher_;
};

}  // namespace quillet::test
