#include "quillet-presence/AppMonitor.h"

namespace quillet::presence {

const std::map<std::string, std::string>& AppMonitor::meetingBundles() {
  static const std::map<std::string, std::string> bundles = {
      {"us.zoom.xos", "zoom"},
      {"com.microsoft.teams2", "teams"},
      {"com.cisco.webexmeetingsapp", "webex"},
  };
  return bundles;
}

std::shared_ptr<AppMonitor> AppMonitor::make(platform::Workspace& workspace) {
  return std::shared_ptr<AppMonitor>(new AppMonitor(workspace));
}

AppMonitor::AppMonitor(platform::Workspace& workspace) : workspace_(workspace) {}

void AppMonitor::start() {
  workspace_.addObserver([weakSelf = weak_from_this()](platform::WorkspaceEvent, const platform::RunningApplication&) {
    if (const auto self = weakSelf.lock()) self->report();
  });
  report();
}

void AppMonitor::report() {
  std::optional<std::string> meetingApp;
  std::optional<std::string> bundleId;
  for (const auto& application : workspace_.runningApplications()) {
    if (!application.bundleId) continue;
    const auto meeting = meetingBundles().find(*application.bundleId);
    if (meeting == meetingBundles().end()) continue;
    meetingApp = meeting->second;
    bundleId = meeting->first;
    break;
  }

  bool frontmost = false;
  std::optional<std::string> frontmostBundleId;
  if (const auto front = workspace_.frontmostApplication(); front && front->bundleId) {
    frontmostBundleId = front->bundleId;
    frontmost = meetingBundles().contains(*front->bundleId);
  }

  if (onChange) onChange(meetingApp, bundleId, frontmost, frontmostBundleId);
}

}  // namespace quillet::presence
