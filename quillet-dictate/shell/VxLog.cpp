#include "quillet-dictate/shell/VxLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>


namespace quillet::dictate {

namespace {

// Opens the log for appending if it is safe to: no symbolic link is followed, a new
// file is private to the user, and an existing one must be our own single-link regular file.
// Opening without blocking keeps a planted FIFO from stalling the caller.
int openLogFile(const std::filesystem::path& file) {
  const int descriptor = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
  if (descriptor < 0) return -1;
  struct stat status {};
  const bool safe = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == ::geteuid() &&
                    status.st_nlink == 1;
  if (!safe) {
    ::close(descriptor);
    return -1;
  }
  // A file left readable by others would show them what the user dictated.
  if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) ::fchmod(descriptor, S_IRUSR | S_IWUSR);
  return descriptor;
}

void writeAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes.remove_prefix(std::size_t(written));
  }
}

}  // namespace

VxLog::VxLog(std::filesystem::path file, const platform::Clock& clock, Mirror mirror)
    : file_(std::move(file)), clock_(clock), mirror_(std::move(mirror)) {}

std::string VxLog::formatLine(std::chrono::system_clock::time_point time, std::string_view message) {
  const auto sinceEpoch = time.time_since_epoch();
  const auto wholeSeconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - wholeSeconds).count();
  const std::time_t seconds = std::time_t(wholeSeconds.count());
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%02d:%02d:%02d.%03d] ", local.tm_hour, local.tm_min, local.tm_sec,
                int(milliseconds));
  std::string line;
  line.reserve(16 + message.size());
  line.append(stamp).append(message).push_back('\n');
  return line;
}

void VxLog::writeToStandardError(std::string_view line) { writeAll(STDERR_FILENO, line); }

void VxLog::log(std::string_view message) const {
  const std::string line = formatLine(clock_.wallNow(), message);
  if (const int descriptor = openLogFile(file_); descriptor >= 0) {
    writeAll(descriptor, line);
    ::close(descriptor);
  }
  if (mirror_) mirror_(line);
}

void VxLog::emptyFile() const {
  if (const int descriptor = openLogFile(file_); descriptor >= 0) {
    // Truncating after the checks, not at open, so a file we refuse is left as it was.
    [[maybe_unused]] const int ignored = ::ftruncate(descriptor, 0);
    ::close(descriptor);
  }
}

}  // namespace quillet::dictate
