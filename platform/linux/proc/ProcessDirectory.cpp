#include "platform/linux/proc/ProcessDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <memory>
#include <sstream>

namespace quillet::platform::proc {

namespace {

std::optional<int> processIdFromName(std::string_view name) {
  int processId = 0;
  const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), processId);
  if (error != std::errc() || end != name.data() + name.size() || processId <= 0) return std::nullopt;
  return processId;
}

// The kernel marks its own threads with this flag (PF_KTHREAD) in the stat line's flags field.
constexpr std::uint64_t kernelThreadFlag = 0x00200000;

}  // namespace

ProcessDirectory::ProcessDirectory(std::filesystem::path root) : root_(std::move(root)) {}

std::filesystem::path ProcessDirectory::pathOf(int processId, std::string_view entry) const {
  auto path = root_ / std::to_string(processId);
  if (!entry.empty()) path /= entry;
  return path;
}

std::vector<int> ProcessDirectory::processIds() const {
  std::vector<int> processIds;
  const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(root_.c_str()), ::closedir);
  if (!folder) return processIds;
  while (const dirent* entry = ::readdir(folder.get())) {
    // Only folders named by a number are processes; the type saves a stat() per entry.
    if (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
    if (auto processId = processIdFromName(entry->d_name)) processIds.push_back(*processId);
  }
  return processIds;
}

bool ProcessDirectory::exists(int processId) const {
  struct stat information {};
  return processId > 0 && ::stat(pathOf(processId).c_str(), &information) == 0 && S_ISDIR(information.st_mode);
}

std::optional<uid_t> ProcessDirectory::ownerOf(int processId) const {
  struct stat information {};
  if (processId <= 0 || ::stat(pathOf(processId).c_str(), &information) != 0) return std::nullopt;
  return information.st_uid;
}

std::optional<ProcessDirectory::Status> ProcessDirectory::statusOf(int processId) const {
  const auto line = read(processId, "stat", 4096);
  if (!line) return std::nullopt;
  // The command name in parentheses may hold spaces and parentheses itself; the fields follow the last ')'.
  const auto nameEnd = line->rfind(')');
  if (nameEnd == std::string::npos) return std::nullopt;
  std::istringstream fields(line->substr(nameEnd + 1));
  // After the name come the state (field 3), ..., the flags (field 9) and the start time (field 22).
  constexpr int flagsIndex = 6;
  constexpr int startTimeIndex = 19;
  std::string field;
  Status status;
  bool flagsRead = false;
  for (int index = 0; fields >> field; ++index) {
    std::uint64_t value = 0;
    if (index != flagsIndex && index != startTimeIndex) continue;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
    if (error != std::errc() || end != field.data() + field.size()) return std::nullopt;
    if (index == flagsIndex) {
      status.isKernelThread = (value & kernelThreadFlag) != 0;
      flagsRead = true;
    } else {
      status.startTime = value;
      return flagsRead ? std::optional(status) : std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ProcessDirectory::read(int processId, std::string_view entry, std::size_t sizeLimit) const {
  if (processId <= 0) return std::nullopt;
  const int descriptor = ::open(pathOf(processId, entry).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) return std::nullopt;
  std::string contents;
  char buffer[4096];
  bool failed = false;
  while (contents.size() < sizeLimit) {
    const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) failed = true;
    if (count <= 0) break;
    contents.append(buffer, std::size_t(count));
  }
  ::close(descriptor);
  if (failed) return std::nullopt;
  if (contents.size() > sizeLimit) contents.resize(sizeLimit);
  return contents;
}

std::optional<std::string> ProcessDirectory::linkTarget(int processId, std::string_view entry) const {
  if (processId <= 0) return std::nullopt;
  std::error_code error;
  auto target = std::filesystem::read_symlink(pathOf(processId, entry), error);
  if (error) return std::nullopt;
  return target.string();
}

}  // namespace quillet::platform::proc
