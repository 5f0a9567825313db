#pragma once

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

namespace quillet::test {

// A fresh, empty folder under the system's temporary folder, removed with all it holds when this goes.
class TemporaryDirectory {
 public:
  TemporaryDirectory() : path_(createUniqueFolder()) {}
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  static std::filesystem::path createUniqueFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quillet-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "cannot create a temporary folder");
    }
    return pattern;
  }

  std::filesystem::path path_;
};

}  // namespace quillet::test
