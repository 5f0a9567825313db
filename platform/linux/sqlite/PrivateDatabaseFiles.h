#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

namespace quillet::platform::sqlite {

// The database holds session tokens, so its folders, the file and SQLite's -wal and -shm files beside it
// stay the user's own, whoever created them and with whatever umask.
class PrivateDatabaseFiles {
 public:
  using Report = std::function<void(const std::string& message)>;

  // Creates missing folders and the file itself for the owner only, and takes group and other access away
  // from the file, its -wal and its -shm where the user owns them; a file of another user is left as it
  // is and reported. Answers why the folder could not be made, which keeps the database from opening.
  static std::error_code prepare(const std::filesystem::path& databasePath, const Report& report);

 private:
  static void tighten(const std::filesystem::path& path, const Report& report);
};

}  // namespace quillet::platform::sqlite
