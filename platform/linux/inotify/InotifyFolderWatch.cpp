#include "platform/linux/inotify/InotifyFolderWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

namespace quillet::platform::inotify {
namespace {

// A file written and closed in place, created, deleted, or renamed into or out of the folder.
constexpr std::uint32_t kEntryChanges = IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;

}  // namespace

InotifyFolderWatch::InotifyFolderWatch(MainLoop& mainLoop) : mainLoop_(mainLoop) {}

InotifyFolderWatch::~InotifyFolderWatch() {
  alive_->store(false);
  if (reader_.joinable()) {
    const std::uint64_t one = 1;
    // The reader waits on this descriptor too; a failed write would leave it waiting, so it is retried.
    while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    reader_.join();
  }
  if (stopFd_ >= 0) ::close(stopFd_);
  if (inotifyFd_ >= 0) ::close(inotifyFd_);
}

Status InotifyFolderWatch::watch(const std::filesystem::path& folder, Changed onChange) {
  if (inotifyFd_ >= 0) return Error("the folder watch is already watching");
  inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotifyFd_ < 0) return Error(std::string("inotify_init1: ") + std::strerror(errno));
  if (::inotify_add_watch(inotifyFd_, folder.c_str(), kEntryChanges | IN_ONLYDIR) < 0) {
    return Error("cannot watch " + folder.string() + ": " + std::strerror(errno));
  }
  stopFd_ = ::eventfd(0, EFD_CLOEXEC);
  if (stopFd_ < 0) return Error(std::string("eventfd: ") + std::strerror(errno));
  reader_ = std::thread([this, onChange = std::move(onChange)] { readEvents(onChange); });
  return {};
}

void InotifyFolderWatch::readEvents(const Changed& onChange) {
  // Aligned as inotify_event requires; large enough for many events at once.
  alignas(inotify_event) std::array<char, 16 * 1024> buffer{};
  for (;;) {
    std::array<pollfd, 2> waits{{{inotifyFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}}};
    if (::poll(waits.data(), waits.size(), -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (waits[1].revents != 0) return;
    const ssize_t length = ::read(inotifyFd_, buffer.data(), buffer.size());
    if (length <= 0) continue;
    for (ssize_t offset = 0; offset < length;) {
      inotify_event event{};
      std::memcpy(&event, buffer.data() + offset, sizeof event);
      std::string name;
      if (event.len > 0) name = std::string(buffer.data() + offset + sizeof event);  // NUL-padded
      offset += ssize_t(sizeof event + event.len);
      if ((event.mask & kEntryChanges) == 0) continue;
      mainLoop_.post([alive = alive_, onChange, name = std::move(name)] {
        if (alive->load()) onChange(name);
      });
    }
  }
}

}  // namespace quillet::platform::inotify
