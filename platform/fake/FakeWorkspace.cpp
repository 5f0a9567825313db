#include "platform/fake/FakeWorkspace.h"

#include <algorithm>

namespace quillet::platform::fake {

void FakeWorkspace::launch(const RunningApplication& application) {
  running.push_back(application);
  announce(WorkspaceEvent::launched, application);
}

void FakeWorkspace::terminate(const RunningApplication& application) {
  std::erase(running, application);
  if (frontmost == application) frontmost.reset();
  announce(WorkspaceEvent::terminated, application);
}

void FakeWorkspace::activate(const RunningApplication& application) {
  frontmost = application;
  announce(WorkspaceEvent::activated, application);
}

// Posted, as the real desktop delivers on the main loop; the test runs the loop to deliver.
void FakeWorkspace::announce(WorkspaceEvent event, const RunningApplication& application) {
  for (const auto& observer : observers_) {
    loop_.post([observer, event, application] { observer(event, application); });
  }
}

}  // namespace quillet::platform::fake
