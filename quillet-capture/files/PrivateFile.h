#pragma once

#include <filesystem>
#include <system_error>

#include "common/result/Expected.h"

namespace quillet::capture {

// A new file that only this user may read or write (mode 0600), created without ever following a
// symbolic link, so another local user can neither read the audio nor redirect it elsewhere.
// Owns the open descriptor.
class PrivateFile {
 public:
  using Result = Expected<PrivateFile, std::error_code>;

  // Creates `path` for writing; fails (std::errc::file_exists) when anything, a link included,
  // already has that name.
  static Result createNew(const std::filesystem::path& path);

  // Removes whatever has that name (a link itself, never what it points to) and creates a new file
  // in its place, so that an existing recording is replaced rather than written through.
  static Result replace(const std::filesystem::path& path);

  PrivateFile(PrivateFile&& other) noexcept;
  PrivateFile& operator=(PrivateFile&& other) noexcept;
  ~PrivateFile();

  [[nodiscard]] int descriptor() const { return descriptor_; }

  // Hands the descriptor over to the caller, who closes it.
  [[nodiscard]] int release();

 private:
  explicit PrivateFile(int descriptor) : descriptor_(descriptor) {}

  int descriptor_ = -1;
};

}  // namespace quillet::capture
