#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quillet::platform {

// One running application as the desktop knows it.
struct RunningApplication {
  int processId = 0;
  std::optional<std::string> bundleId;

  friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

// One top-level window and the application showing it.
struct ApplicationWindow {
  std::uint64_t windowId = 0;
  RunningApplication application;

  friend bool operator==(const ApplicationWindow&, const ApplicationWindow&) = default;
};

// What happened to an application, as the desktop reports it.
enum class WorkspaceEvent { launched, terminated, activated };

// The desktop's applications: which run, which one is in front, which open web addresses.
class Workspace {
 public:
  using Observer = std::function<void(WorkspaceEvent event, const RunningApplication& application)>;

  virtual ~Workspace() = default;

  // The running applications, oldest first.
  virtual std::vector<RunningApplication> runningApplications() = 0;

  // The application owning the active window; nothing without a display or an active window.
  virtual std::optional<RunningApplication> frontmostApplication() = 0;

  // The active window and its application; nothing without a display or an active window.
  virtual std::optional<ApplicationWindow> frontmostWindow() = 0;

  // `observer` runs on the main loop for every launch, termination and activation from now on.
  virtual void addObserver(Observer observer) = 0;

  // The identifiers of the applications registered to open https addresses, in no particular order.
  virtual std::vector<std::string> browsers() = 0;
};

}  // namespace quillet::platform
