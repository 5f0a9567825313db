#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/MainLoop.h"
#include "platform/Workspace.h"

namespace quillet::platform::fake {

// A desktop the test scripts: it sets what runs, what is in front and which browsers exist, and
// announces launches, terminations and activations, which reach the observers through the main loop.
class FakeWorkspace final : public Workspace {
 public:
  explicit FakeWorkspace(MainLoop& loop) : loop_(loop) {}

  std::vector<RunningApplication> runningApplications() override { return running; }
  std::optional<RunningApplication> frontmostApplication() override { return frontmost; }
  // The front application's window; its id is `frontmostWindowId`.
  std::optional<ApplicationWindow> frontmostWindow() override {
    if (!frontmost) return std::nullopt;
    return ApplicationWindow{frontmostWindowId, *frontmost};
  }
  void addObserver(Observer observer) override { observers_.push_back(std::move(observer)); }
  std::vector<std::string> browsers() override { return browserIds; }

  // Appends `application` to the running list and announces its launch.
  void launch(const RunningApplication& application);
  // Removes `application` from the running list (and from the front) and announces its end.
  void terminate(const RunningApplication& application);
  // Puts `application` in front and announces its activation.
  void activate(const RunningApplication& application);

  [[nodiscard]] std::size_t observerCount() const { return observers_.size(); }

  // Oldest first, as the port promises.
  std::vector<RunningApplication> running;
  std::optional<RunningApplication> frontmost;
  std::uint64_t frontmostWindowId = 0x2a00007;
  std::vector<std::string> browserIds;

 private:
  void announce(WorkspaceEvent event, const RunningApplication& application);

  MainLoop& loop_;
  std::vector<Observer> observers_;
};

}  // namespace quillet::platform::fake
