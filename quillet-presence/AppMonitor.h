#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/Workspace.h"

namespace quillet::presence {

// Which known meeting application runs, and which application is in front.
// Owned through std::shared_ptr: the workspace observer holds it weakly.
class AppMonitor : public std::enable_shared_from_this<AppMonitor> {
 public:
  // Bundle identifier → short name of the meeting applications the host knows.
  static const std::map<std::string, std::string>& meetingBundles();

  static std::shared_ptr<AppMonitor> make(platform::Workspace& workspace);

  AppMonitor(const AppMonitor&) = delete;
  AppMonitor& operator=(const AppMonitor&) = delete;

  std::function<void(const std::optional<std::string>& meetingApp, const std::optional<std::string>& bundleId,
                     bool frontmost, const std::optional<std::string>& frontmostBundleId)>
      onChange;

  // Reports at once and again whenever an application launches, terminates or becomes active.
  void start();

 private:
  explicit AppMonitor(platform::Workspace& workspace);

  void report();

  platform::Workspace& workspace_;
};

}  // namespace quillet::presence
