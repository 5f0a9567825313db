#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <unordered_map>
#include <vector>

#include "platform/AppIdentity.h"
#include "platform/Workspace.h"
#include "platform/linux/proc/ProcessDirectory.h"

namespace quillet::platform::proc {

// The user's running processes with their identities. Linux tells no unprivileged program when a
// process starts, so refresh() lists /proc and reads only the processes it has not seen yet; a
// listing of a few hundred entries is all an idle refresh costs.
class RunningProcessList {
 public:
  struct Changes {
    std::vector<RunningApplication> launched;
    std::vector<RunningApplication> terminated;
  };

  // Lists the processes owned by `owner`, kernel threads left out.
  RunningProcessList(AppIdentity& identity, ProcessDirectory processes, uid_t owner);

  // Brings the list up to date and answers what changed since the last refresh. A process is
  // identified when first seen and once more at the next refresh, since a launcher script that
  // replaces itself with the real program keeps its pid; a changed identity is announced as a launch.
  Changes refresh();

  // The processes as of the last refresh, oldest first.
  [[nodiscard]] std::vector<RunningApplication> applications() const;

 private:
  // Processes of other users and kernel threads are kept too, so that they are looked at only once.
  struct Entry {
    std::uint64_t startTime = 0;
    RunningApplication application;
    bool isListed = false;
    bool confirmed = false;
  };

  AppIdentity& identity_;
  ProcessDirectory processes_;
  uid_t owner_;
  std::unordered_map<int, Entry> entries_;
};

}  // namespace quillet::platform::proc
