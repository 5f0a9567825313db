#pragma once

#include <optional>
#include <string>

namespace quillet::platform {

// Who an application is, in the identifiers the behaviour's tables use ("org.mozilla.firefox",
// "us.zoom.xos"); Linux applications are mapped onto them, unknown ones keep an id of their own.
class AppIdentity {
 public:
  virtual ~AppIdentity() = default;

  // The identifier of the application a process belongs to; nothing when the process is gone or unreadable.
  virtual std::optional<std::string> bundleIdOfProcess(int processId) = 0;

  // This program's own process id.
  virtual int ownProcessId() = 0;
};

}  // namespace quillet::platform
