#include "platform/linux/x11/RootWindowWatcher.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace quillet::platform::x11 {

std::unique_ptr<RootWindowWatcher> RootWindowWatcher::start(const std::string& displayName, ChangeHandler onChange) {
  auto connection = X11Connection::open(displayName);
  if (!connection) return nullptr;
  int wakePipe[2];
  if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
  connection->watchRootProperties();
  return std::unique_ptr<RootWindowWatcher>(
      new RootWindowWatcher(std::move(connection), wakePipe[0], wakePipe[1], std::move(onChange)));
}

RootWindowWatcher::RootWindowWatcher(std::unique_ptr<X11Connection> connection, int wakeReadEnd, int wakeWriteEnd,
                                     ChangeHandler onChange)
    : connection_(std::move(connection)),
      wakeReadEnd_(wakeReadEnd),
      wakeWriteEnd_(wakeWriteEnd),
      onChange_(std::move(onChange)),
      thread_([this] { run(); }) {}

RootWindowWatcher::~RootWindowWatcher() {
  // Closing the write end makes the read end readable for good, so the thread cannot miss it.
  ::close(wakeWriteEnd_);
  thread_.join();
  ::close(wakeReadEnd_);
}

void RootWindowWatcher::run() {
  while (!connection_->isBroken()) {
    // Events may already sit in Xlib's queue, read along with an earlier reply; poll() would not see them.
    const auto changes = connection_->takeRootChanges();
    if (changes.activeWindow || changes.clientList) {
      Change change{changes.activeWindow, std::nullopt, changes.clientList};
      if (changes.activeWindow) change.activeProcessId = connection_->activeProcessId();
      onChange_(change);
      continue;
    }
    pollfd descriptors[] = {{connection_->fileDescriptor(), POLLIN, 0}, {wakeReadEnd_, POLLIN, 0}};
    if (::poll(descriptors, 2, -1) < 0 && errno != EINTR) return;
    if (descriptors[1].revents != 0) return;
  }
}

}  // namespace quillet::platform::x11
