#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppIdentity.h"
#include "platform/MainLoop.h"
#include "platform/Workspace.h"
#include "platform/linux/proc/RunningProcessList.h"
#include "platform/linux/x11/RootWindowWatcher.h"
#include "platform/linux/x11/X11Connection.h"
#include "platform/linux/xdg/DesktopApplications.h"

namespace quillet::platform::x11 {

// The desktop as an X11 session shows it: the front application is the process behind the window
// manager's _NET_ACTIVE_WINDOW, the running applications are this user's processes in /proc, and the
// browsers are the desktop files handling https. Without a display everything but the front
// application and its activation still works. Construct and use on the main loop's thread.
class X11Workspace final : public Workspace {
 public:
  // How often /proc is listed for launches and terminations while someone observes; a change of the
  // window list triggers a listing at once.
  static constexpr double rescanIntervalSeconds = 2.0;

  // `displayName` empty means $DISPLAY; the browsers come from `desktopApplications`.
  X11Workspace(MainLoop& loop, AppIdentity& identity, const std::string& displayName = {},
               xdg::DesktopApplications desktopApplications = {});
  ~X11Workspace() override;

  std::vector<RunningApplication> runningApplications() override;
  std::optional<RunningApplication> frontmostApplication() override;
  std::optional<ApplicationWindow> frontmostWindow() override;
  void addObserver(Observer observer) override;
  std::vector<std::string> browsers() override;

  [[nodiscard]] bool hasDisplay() const { return queries_ != nullptr; }

 private:
  void rescan();
  void activeProcessChanged(std::optional<int> processId);
  void notify(WorkspaceEvent event, const RunningApplication& application);
  // Runs `block` on the main loop unless this workspace is gone by then.
  void postWhileAlive(std::function<void(X11Workspace&)> block);

  MainLoop& loop_;
  AppIdentity& identity_;
  proc::RunningProcessList processes_;
  xdg::DesktopApplications desktopApplications_;
  std::unique_ptr<X11Connection> queries_;
  std::vector<Observer> observers_;
  Timer rescanTimer_;
  std::optional<int> activeProcessId_;
  // Several window-list changes in a row lead to one rescan.
  std::atomic<bool> rescanPosted_{false};
  std::shared_ptr<X11Workspace*> alive_;
  // Last, so that its thread is joined before anything it posts to is torn down.
  std::unique_ptr<RootWindowWatcher> watcher_;
};

}  // namespace quillet::platform::x11
