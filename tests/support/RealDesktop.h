#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/AccessibilityBus.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopApplication.h"
#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::test {

// A desktop of one test's own for applications nobody here wrote: the accessibility bus's private X
// server and session bus, openbox managing the windows, and mousepad, gedit or xterm on top, driven
// with xdotool the way a user's keyboard drives them. Openbox and the applications read their
// configuration and keep their data in this desktop's own folder, never in the user's.
class RealDesktop {
 public:
  using Clock = std::chrono::steady_clock;

  RealDesktop() {
    for (const char* name : {"config", "data", "cache", "state"}) std::filesystem::create_directories(folder_.path() / name);
    std::ofstream(folder_.path() / "xresources");
    const auto configuration = folder_.path() / "openbox.xml";
    std::ofstream(configuration) << openboxConfiguration();
    windowManager_ = startLogged("openbox", {"--config-file", configuration.string(), "--sm-disable"});
    // Openbox names itself on the root window once it manages the screen; windows mapped before that
    // would be placed and focused by nobody.
    const std::string ownPid = "= " + std::to_string(windowManager_->pid());
    if (!waitUntil([&] { return runTool("xprop", {"-root", "-notype", "_OPENBOX_PID"}).output.find(ownPid) != std::string::npos; },
                   std::chrono::seconds(20))) {
      throw std::runtime_error("openbox did not take the display " + displayName() + ":\n" + readFile(logOf("openbox")));
    }
  }

  ~RealDesktop() {
    windowManager_->sendSignal(SIGTERM);
    windowManager_->waitForExit(std::chrono::seconds(5));
  }

  RealDesktop(const RealDesktop&) = delete;
  RealDesktop& operator=(const RealDesktop&) = delete;

  [[nodiscard]] const std::string& displayName() const { return bus_.displayName(); }
  [[nodiscard]] const AccessibilityBus& bus() const { return bus_; }
  [[nodiscard]] const std::filesystem::path& folder() const { return folder_.path(); }

  // Makes this process a client of the desktop, as libatspi and Qt read their environment once, when
  // they first connect.
  void useInThisProcess() const {
    for (const auto& [name, value] : environment()) ::setenv(name.c_str(), value.c_str(), 1);
    for (const auto& name : AccessibilityBus::removedVariables()) ::unsetenv(name.c_str());
  }

  // The environment of every client of this desktop: the accessibility bus's, with the XDG folders and
  // X resources moved into the desktop's folder, in a UTF-8 locale.
  [[nodiscard]] ChildProcess::Environment environment() const {
    auto environment = bus_.environment();
    environment["XDG_CONFIG_HOME"] = (folder_.path() / "config").string();
    environment["XDG_DATA_HOME"] = (folder_.path() / "data").string();
    environment["XDG_CACHE_HOME"] = (folder_.path() / "cache").string();
    environment["XDG_STATE_HOME"] = (folder_.path() / "state").string();
    environment["XENVIRONMENT"] = (folder_.path() / "xresources").string();
    // UTF-8 everywhere, as on a user's desktop: xterm decides by the locale whether it speaks UTF-8.
    environment["LANG"] = "C.UTF-8";
    environment["LC_ALL"] = "C.UTF-8";
    return environment;
  }

  // Each starts the application and returns once its window is mapped and active; throws with the
  // application's standard error when it is not within 30 seconds.
  // mousepad without its D-Bus service, so no other instance is looked for or activated.
  std::unique_ptr<DesktopApplication> launchMousepad(const std::filesystem::path& file) {
    return launch("mousepad", {"--disable-server", "--", file.string()});
  }
  // gedit standalone: its own process, not a window of an instance found on the session bus.
  std::unique_ptr<DesktopApplication> launchGedit(const std::filesystem::path& file) {
    return launch("gedit", {"--standalone", "--", file.string()});
  }
  // xterm running `shellCommand` with /bin/sh, such as "cat > /tmp/file".
  std::unique_ptr<DesktopApplication> launchXterm(const std::string& shellCommand) {
    return launch("xterm", {"-e", "/bin/sh", "-c", shellCommand});
  }

  // The process's top-level windows that are mapped and managed by the window manager.
  [[nodiscard]] std::vector<WindowId> windowsOf(pid_t processId) const {
    const auto managed = rootWindowList("_NET_CLIENT_LIST");
    std::vector<WindowId> windows;
    for (const auto window : numbersIn(runTool("xdotool", {"search", "--onlyvisible", "--pid", std::to_string(processId)}).output)) {
      if (std::find(managed.begin(), managed.end(), window) != managed.end()) windows.push_back(window);
    }
    return windows;
  }

  // The window the window manager calls active, when it also holds the keyboard focus; keys typed now go there.
  [[nodiscard]] std::optional<WindowId> activeWindow() const {
    const auto active = numbersIn(runTool("xdotool", {"getactivewindow"}).output);
    const auto focused = numbersIn(runTool("xdotool", {"getwindowfocus"}).output);
    if (active.size() != 1 || active != focused) return std::nullopt;
    return active.front();
  }

  bool waitUntilActive(WindowId window, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    return waitUntil([&] { return activeWindow() == window; }, timeout);
  }

  // Brings the application's window to the front and the keyboard, as a click on its taskbar entry does.
  bool activate(const DesktopApplication& application) const {
    return runTool("xdotool", {"windowactivate", std::to_string(application.windowId())}).succeeded &&
           waitUntilActive(application.windowId());
  }

  // Alt+Tab through openbox; answers the window that became active instead of the one before.
  std::optional<WindowId> switchWindowByKeyboard(std::chrono::milliseconds timeout = std::chrono::seconds(10)) const {
    const auto before = activeWindow();
    if (!pressKeys("alt+Tab")) return std::nullopt;
    std::optional<WindowId> after;
    waitUntil([&] { return (after = activeWindow()) && after != before; }, timeout);
    return after != before ? after : std::nullopt;
  }

  // One key chord in xdotool's names ("ctrl+s", "Return", "shift+Insert") to the focused window;
  // held modifiers are released first and pressed again after, as a user's own keys would be.
  bool pressKeys(const std::string& chord) const {
    return runTool("xdotool", {"key", "--clearmodifiers", chord}).succeeded;
  }

  // Presses (or releases) one key and leaves it so, as a user holding it does.
  bool holdKey(const std::string& key, bool down) const {
    return runTool("xdotool", {down ? "keydown" : "keyup", key}).succeeded;
  }

  // Types `text` key by key into the focused window; each "\n" presses Return, as a user ends a line.
  // (xdotool itself types "\n" as the Linefeed key, which GTK's text views ignore.)
  bool typeText(const std::string& text) const {
    std::size_t begin = 0;
    while (true) {
      const std::size_t end = std::min(text.find('\n', begin), text.size());
      if (end > begin && !runTool("xdotool", {"type", "--clearmodifiers", "--delay", "12", "--", text.substr(begin, end - begin)},
                                  std::chrono::seconds(60)).succeeded) {
        return false;
      }
      if (end == text.size()) return true;
      if (!pressKeys("Return")) return false;
      begin = end + 1;
    }
  }

  // Ctrl+S in the application's window; true once `file` on disk is not what it was before.
  bool save(const DesktopApplication& application, const std::filesystem::path& file,
            std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
    if (!activate(application)) return false;
    const auto before = FileState::of(file);
    if (!pressKeys("ctrl+s")) return false;
    return waitUntil([&] { return !(FileState::of(file) == before); }, timeout);
  }

  // Waits until `file` holds exactly `contents`.
  static bool waitForFileContents(const std::filesystem::path& file, const std::string& contents,
                                  std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return waitUntil([&] { return readFile(file) == contents; }, timeout);
  }

  // The whole screen as a PNG, for looking at what a failing test saw.
  bool screenshot(const std::filesystem::path& png) const {
    return runTool("import", {"-display", displayName(), "-window", "root", png.string()}).succeeded;
  }

  // Checks `condition` every 20 ms until it holds or `timeout` passes; answers whether it held.
  static bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  struct ToolResult {
    bool succeeded = false;  // exited with status 0 in time
    std::string output;      // its standard output
  };

  // Runs an X tool against this desktop to its end; one that hangs is killed at the timeout.
  ToolResult runTool(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds timeout = std::chrono::seconds(20)) const {
    const auto deadline = Clock::now() + timeout;
    ChildProcess tool(ChildProcess::pathOf(program), arguments, environment(), AccessibilityBus::removedVariables(),
                      ChildProcess::StandardOutput::separate);
    // No tool prints a NUL, so this reads to the end of the output.
    tool.waitForStandardOutput(std::string(1, '\0'), timeout);
    const auto left = std::max(std::chrono::milliseconds(0),
                               std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    const auto status = tool.waitForExit(left);
    return {status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0, tool.standardOutputText()};
  }

 private:
  // What changes when an editor writes a file, in place or by renaming a new one over it.
  struct FileState {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedNanoseconds = 0;
    std::string contents;

    static FileState of(const std::filesystem::path& file) {
      struct stat status {};
      if (::stat(file.c_str(), &status) != 0) return {};
      return {true, status.st_ino, status.st_size,
              static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL + status.st_mtim.tv_nsec, readFile(file)};
    }
    bool operator==(const FileState&) const = default;
  };

  // Focus goes to new windows and to windows clicked or activated; Alt+Tab cycles without a popup.
  // Nothing else is bound, so no key a test types is taken by the window manager.
  static std::string openboxConfiguration() {
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse><focusLast>yes</focusLast></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
  <keyboard>
    <keybind key="A-Tab">
      <action name="NextWindow">
        <dialog>none</dialog>
        <finalactions><action name="Focus"/><action name="Raise"/><action name="Unshade"/></finalactions>
      </action>
    </keybind>
  </keyboard>
  <mouse>
    <context name="Client">
      <mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
    </context>
  </mouse>
</openbox_config>
)";
  }

  [[nodiscard]] std::filesystem::path logOf(const std::string& name) const { return folder_.path() / (name + ".log"); }

  // Starts a program of this desktop with its standard error appended to a log file rather than a pipe
  // nobody drains, which a chatty application would fill and then block on. The shell execs the program,
  // so the process id is the program's own.
  std::unique_ptr<ChildProcess> startLogged(const std::string& program, const std::vector<std::string>& arguments) const {
    std::vector<std::string> shellArguments{"-c", "log=$1; shift; exec \"$@\" 2>>\"$log\"", "sh", logOf(program).string(),
                                            ChildProcess::pathOf(program)};
    shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
    return std::make_unique<ChildProcess>("/bin/sh", shellArguments, environment(), AccessibilityBus::removedVariables(),
                                          ChildProcess::StandardOutput::discarded);
  }

  std::unique_ptr<DesktopApplication> launch(const std::string& program, const std::vector<std::string>& arguments) {
    auto application = std::make_unique<DesktopApplication>(program, startLogged(program, arguments), logOf(program));
    std::vector<WindowId> windows;
    waitUntil([&] { return !application->isRunning() || !(windows = windowsOf(application->processId())).empty(); },
              std::chrono::seconds(30));
    if (windows.empty()) {
      throw std::runtime_error(program + " mapped no window on " + displayName() + ":\n" + application->log());
    }
    application->window_ = windows.front();
    if (!waitUntilActive(application->window_)) {
      throw std::runtime_error(program + "'s window did not become active on " + displayName());
    }
    return application;
  }

  // A list of windows in a root window property, such as _NET_CLIENT_LIST.
  [[nodiscard]] std::vector<WindowId> rootWindowList(const std::string& property) const {
    const std::string output = runTool("xprop", {"-root", "-notype", property}).output;
    const auto hash = output.find('#');
    return hash == std::string::npos ? std::vector<WindowId>{} : numbersIn(output.substr(hash + 1));
  }

  // Window ids in a tool's output, decimal (xdotool) or hexadecimal (xprop), one per word.
  static std::vector<WindowId> numbersIn(const std::string& text) {
    std::istringstream words(text);
    std::vector<WindowId> numbers;
    for (std::string word; words >> word;) {
      if (!word.empty() && word.back() == ',') word.pop_back();
      char* end = nullptr;
      const unsigned long number = std::strtoul(word.c_str(), &end, 0);
      if (!word.empty() && end == word.c_str() + word.size()) numbers.push_back(number);
    }
    return numbers;
  }

  AccessibilityBus bus_;
  TemporaryDirectory folder_;
  std::unique_ptr<ChildProcess> windowManager_;
};

}  // namespace quillet::test
