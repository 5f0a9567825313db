#include "quillet-capture/files/PrivateFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quillet::capture {

PrivateFile::Result PrivateFile::createNew(const std::filesystem::path& path) {
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (descriptor < 0) return std::error_code(errno, std::generic_category());
  return PrivateFile(descriptor);
}

PrivateFile::Result PrivateFile::replace(const std::filesystem::path& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return std::error_code(errno, std::generic_category());
  return createNew(path);
}

PrivateFile::PrivateFile(PrivateFile&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

PrivateFile& PrivateFile::operator=(PrivateFile&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

PrivateFile::~PrivateFile() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

int PrivateFile::release() { return std::exchange(descriptor_, -1); }

}  // namespace quillet::capture
