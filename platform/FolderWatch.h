#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "common/result/Expected.h"

namespace quillet::platform {

// Reports changes to the entries of one folder: a file written and closed, created, deleted, or renamed into or out of
// it. Each change is reported on its own, on the main loop, with the name of the entry it concerns.
class FolderWatch {
 public:
  using Changed = std::function<void(const std::string& name)>;

  virtual ~FolderWatch() = default;

  // Starts watching `folder` for the life of this object; fails with the reason when the folder cannot be watched. Call
  // once.
  virtual Status watch(const std::filesystem::path& folder, Changed onChange) = 0;
};

}  // namespace quillet::platform
