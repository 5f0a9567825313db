#pragma once

#include <optional>
#include <string>

#include "platform/AppIdentity.h"

struct pa_proplist;

namespace quillet::platform::pulse {

// Who plays or records a stream, from the properties its client gave the sound server.
struct StreamOwner {
  std::optional<int> processId;
  // Whether the process runs on this machine, so that its id means something here.
  bool processIsLocal = true;
  std::optional<std::string> sandboxApplicationId;
  std::optional<std::string> binary;
  std::optional<std::string> applicationId;

  // `localHostName` is this machine's name, to tell a remote client's process id from ours.
  static StreamOwner from(const pa_proplist* properties, const std::string& localHostName);

  // This machine's host name, as clients report theirs.
  static std::string localHostName();

  [[nodiscard]] bool isProcess(int localProcessId) const { return processIsLocal && processId == localProcessId; }

  // The application's identifier: a sandbox's own id first, since a sandboxed client's process id names no
  // process of ours; then the process, when it runs here; then the names the client gave itself.
  [[nodiscard]] std::optional<std::string> bundleId(AppIdentity& identity) const;
};

}  // namespace quillet::platform::pulse
