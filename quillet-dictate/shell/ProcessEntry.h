#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/EnvironmentLookup.h"
#include "quillet-dictate/shell/SettingsManager.h"
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

// What the agent does before its launch: take the backend address and the user's
// session from the environment the host started it with into the settings store.
class ProcessEntry {
 public:
  using EnvironmentLookup = platform::EnvironmentLookup;

  // Reads each variable once, in the order URL, anon key, access token, refresh token.
  // A rejected or absent variable leaves the stored value as it is; accepted values are
  // taken as they stand and stored in one write, and persist to later launches. Answers
  // whether a session arrived.
  static bool applyEnvironment(const EnvironmentLookup& environment, SettingsManager& settings, const VxLog& log);

};

}  // namespace quillet::dictate
