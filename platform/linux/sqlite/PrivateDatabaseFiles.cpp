#include "platform/linux/sqlite/PrivateDatabaseFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

namespace quillet::platform::sqlite {
namespace {

std::error_code makePrivateFolder(const std::filesystem::path& folder) {
  if (::mkdir(folder.c_str(), S_IRWXU) == 0 || errno == EEXIST) return {};
  return {errno, std::generic_category()};
}

// Owner-only from the first moment: no other user ever gets to look inside.
std::error_code createPrivateFolders(const std::filesystem::path& folder) {
  const std::error_code problem = makePrivateFolder(folder);
  const std::filesystem::path parent = folder.parent_path();
  if (problem != std::errc::no_such_file_or_directory || parent.empty() || parent == folder) return problem;
  if (const std::error_code parentProblem = createPrivateFolders(parent)) return parentProblem;
  return makePrivateFolder(folder);
}

std::string octal(mode_t mode) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%04o", static_cast<unsigned>(mode & 07777));
  return text.data();
}

class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  [[nodiscard]] int get() const { return descriptor_; }

 private:
  int descriptor_;
};

}  // namespace

std::error_code PrivateDatabaseFiles::prepare(const std::filesystem::path& databasePath, const Report& report) {
  if (databasePath.has_parent_path()) {
    if (const std::error_code problem = createPrivateFolders(databasePath.parent_path())) return problem;
  }
  // SQLite would create the file with the umask's mode; its -wal and -shm files take the file's mode.
  // A path SQLite cannot use either is left for it to report.
  if (const int descriptor = ::open(databasePath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
      descriptor >= 0) {
    ::close(descriptor);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) {
    tighten(std::filesystem::path(databasePath.string() + suffix), report);
  }
  return {};
}

void PrivateDatabaseFiles::tighten(const std::filesystem::path& path, const Report& report) {
  // Changed through a descriptor, so the file checked is the file changed; non-blocking, so a FIFO
  // planted under the name cannot hold the open up.
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) return;
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) return;
  const mode_t ownerOnly = status.st_mode & S_IRWXU;
  if ((status.st_mode & 07777) == ownerOnly) return;
  if (status.st_uid != ::geteuid()) {
    report(path.string() + " belongs to user " + std::to_string(status.st_uid) + "; its mode " +
           octal(status.st_mode) + " is left as it is");
    return;
  }
  if (::fchmod(file.get(), ownerOnly) != 0) {
    report("cannot make " + path.string() + " private (mode " + octal(status.st_mode) +
           "): " + std::error_code(errno, std::generic_category()).message());
  }
}

}  // namespace quillet::platform::sqlite
