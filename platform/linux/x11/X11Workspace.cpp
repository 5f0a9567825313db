#include "platform/linux/x11/X11Workspace.h"

#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/linux/identity/ApplicationIdentityTable.h"

namespace quillet::platform::x11 {

X11Workspace::X11Workspace(MainLoop& loop, AppIdentity& identity, const std::string& displayName,
                           xdg::DesktopApplications desktopApplications)
    : loop_(loop),
      identity_(identity),
      processes_(identity, proc::ProcessDirectory(), ::getuid()),
      desktopApplications_(std::move(desktopApplications)),
      queries_(X11Connection::open(displayName)),
      alive_(std::make_shared<X11Workspace*>(this)) {
  // The first listing is the starting point, not a wave of launches.
  processes_.refresh();
  if (queries_) activeProcessId_ = queries_->activeProcessId();
  watcher_ = RootWindowWatcher::start(displayName, [this](const RootWindowWatcher::Change& change) {
    if (change.activeWindowChanged) {
      postWhileAlive([processId = change.activeProcessId](X11Workspace& workspace) {
        workspace.activeProcessChanged(processId);
      });
    }
    if (change.clientListChanged && !rescanPosted_.exchange(true)) {
      postWhileAlive([](X11Workspace& workspace) {
        workspace.rescanPosted_ = false;
        workspace.rescan();
      });
    }
  });
}

X11Workspace::~X11Workspace() {
  watcher_.reset();
  rescanTimer_.cancel();
}

void X11Workspace::postWhileAlive(std::function<void(X11Workspace&)> block) {
  loop_.post([weakWorkspace = std::weak_ptr<X11Workspace*>(alive_), block = std::move(block)] {
    if (const auto workspace = weakWorkspace.lock()) block(**workspace);
  });
}

std::vector<RunningApplication> X11Workspace::runningApplications() {
  rescan();
  return processes_.applications();
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
  if (!queries_) return std::nullopt;
  const auto processId = queries_->activeProcessId();
  if (!processId) return std::nullopt;
  return RunningApplication{*processId, identity_.bundleIdOfProcess(*processId)};
}

std::optional<ApplicationWindow> X11Workspace::frontmostWindow() {
  if (!queries_) return std::nullopt;
  const auto window = queries_->activeWindow();
  if (!window) return std::nullopt;
  const auto processId = queries_->processIdOfWindow(*window);
  if (!processId) return std::nullopt;
  return ApplicationWindow{*window, RunningApplication{*processId, identity_.bundleIdOfProcess(*processId)}};
}

void X11Workspace::addObserver(Observer observer) {
  observers_.push_back(std::move(observer));
  if (!rescanTimer_.isValid()) rescanTimer_ = loop_.every(rescanIntervalSeconds, [this] { rescan(); });
}

std::vector<std::string> X11Workspace::browsers() {
  std::set<std::string> bundleIds;
  for (const auto& desktopId : desktopApplications_.webBrowserIds()) {
    if (auto bundleId = identity::ApplicationIdentityTable::bundleIdFor(desktopId)) bundleIds.insert(*bundleId);
  }
  return {bundleIds.begin(), bundleIds.end()};
}

// Observers hear of changes on a later turn of the loop, so an observer that asks for the running
// applications from its callback does not re-enter this listing.
void X11Workspace::rescan() {
  const auto changes = processes_.refresh();
  for (const auto& application : changes.terminated) {
    postWhileAlive([application](X11Workspace& workspace) { workspace.notify(WorkspaceEvent::terminated, application); });
  }
  for (const auto& application : changes.launched) {
    postWhileAlive([application](X11Workspace& workspace) { workspace.notify(WorkspaceEvent::launched, application); });
  }
}

// Focus moving between windows of one application is not an activation, as on other desktops.
void X11Workspace::activeProcessChanged(std::optional<int> processId) {
  if (processId == activeProcessId_) return;
  activeProcessId_ = processId;
  if (!processId) return;
  notify(WorkspaceEvent::activated, RunningApplication{*processId, identity_.bundleIdOfProcess(*processId)});
}

void X11Workspace::notify(WorkspaceEvent event, const RunningApplication& application) {
  // A copy, so that an observer may add another while being told.
  const auto observers = observers_;
  for (const auto& observer : observers) observer(event, application);
}

}  // namespace quillet::platform::x11
