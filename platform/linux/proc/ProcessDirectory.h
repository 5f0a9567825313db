#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::platform::proc {

// The kernel's process folder (/proc), read defensively: every answer is nothing when the process is
// gone or the entry is unreadable. The root is a parameter so tests can lay out processes of their own.
class ProcessDirectory {
 public:
  // What /proc/<pid>/stat says about a process that matters to us.
  struct Status {
    // Clock ticks after boot; with the pid it names one process even when pids are reused.
    std::uint64_t startTime = 0;
    bool isKernelThread = false;
  };

  explicit ProcessDirectory(std::filesystem::path root = "/proc");

  // The ids of the processes now listed, in no particular order.
  [[nodiscard]] std::vector<int> processIds() const;

  [[nodiscard]] bool exists(int processId) const;

  // The user owning the process, as its folder shows.
  [[nodiscard]] std::optional<uid_t> ownerOf(int processId) const;

  [[nodiscard]] std::optional<Status> statusOf(int processId) const;

  // The contents of an entry such as "cgroup" or "root/.flatpak-info", at most `sizeLimit` bytes.
  [[nodiscard]] std::optional<std::string> read(int processId, std::string_view entry,
                                                std::size_t sizeLimit = 256 * 1024) const;

  // Where a link such as "exe" points.
  [[nodiscard]] std::optional<std::string> linkTarget(int processId, std::string_view entry) const;

  [[nodiscard]] const std::filesystem::path& root() const { return root_; }

 private:
  [[nodiscard]] std::filesystem::path pathOf(int processId, std::string_view entry = {}) const;

  std::filesystem::path root_;
};

}  // namespace quillet::platform::proc
