#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/FolderWatch.h"
#include "platform/MainLoop.h"

namespace quillet::platform::inotify {

// Watches one folder with inotify. A thread of its own sleeps in poll() until the kernel has events, so an idle folder
// costs no wake-ups; each event is posted to the main loop.
class InotifyFolderWatch final : public FolderWatch {
 public:
  explicit InotifyFolderWatch(MainLoop& mainLoop);
  ~InotifyFolderWatch() override;

  InotifyFolderWatch(const InotifyFolderWatch&) = delete;
  InotifyFolderWatch& operator=(const InotifyFolderWatch&) = delete;

  Status watch(const std::filesystem::path& folder, Changed onChange) override;

 private:
  void readEvents(const Changed& onChange);

  MainLoop& mainLoop_;
  int inotifyFd_ = -1;
  int stopFd_ = -1;  // an eventfd the destructor signals
  std::thread reader_;
  // Cleared at destruction, so events already posted are dropped instead of reaching a gone owner.
  std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

}  // namespace quillet::platform::inotify
