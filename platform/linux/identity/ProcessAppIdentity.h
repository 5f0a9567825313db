#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppIdentity.h"
#include "platform/linux/proc/ProcessDirectory.h"

namespace quillet::platform::identity {

// Who a process is, read from /proc and mapped through the ApplicationIdentityTable.
//
// A process inside a sandbox is the sandboxed application, known to the table or not: the Flatpak id
// (cgroup scope "app-flatpak-<id>-<n>.scope", else /.flatpak-info in its root) or the Snap name (cgroup
// "snap.<name>.<app>..."). Any other process goes by these names, and the first the table knows wins:
//   1. the desktop-file id its launcher recorded for this very process (GIO_LAUNCHED_DESKTOP_FILE
//      whose _PID is the process, or a GNOME scope "app-gnome-<id>-<pid>.scope" naming it);
//   2. its executable's name (/proc/<pid>/exe, else /proc/<pid>/comm);
//   3. a desktop-file id it may have inherited from the application that started it (the same
//      environment or an "app-...scope/service" unit without its pid).
// Inherited ids come after the executable, so Zoom opened from a browser is Zoom, not the browser.
// When the table knows none of them the first one present is the process's own id.
class ProcessAppIdentity final : public AppIdentity {
 public:
  explicit ProcessAppIdentity(std::filesystem::path processRoot = "/proc");

  std::optional<std::string> bundleIdOfProcess(int processId) override;
  int ownProcessId() override;

  // The names the process goes by, its sandbox first, then in the order above; empty when it is gone.
  [[nodiscard]] std::vector<std::string> candidateNames(int processId) const;

 private:
  struct Names {
    std::vector<std::string> candidates;
    bool isSandboxed = false;
  };

  [[nodiscard]] Names namesOf(int processId) const;

  proc::ProcessDirectory processes_;
};

}  // namespace quillet::platform::identity
