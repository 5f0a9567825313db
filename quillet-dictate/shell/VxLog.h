#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Clock.h"

namespace quillet::dictate {

// The agent's one log channel: "[HH:mm:ss.SSS] message" lines appended to a
// file in the temporary folder and mirrored to standard error.
//
// The file name is fixed and /tmp is shared, so the file is never reached through
// a symbolic link, is created readable by its owner only, and is used only when it
// is a regular file of ours with a single link; otherwise lines go to standard error alone.
class VxLog {
 public:
  using Mirror = std::function<void(std::string_view line)>;

  static constexpr const char* kDefaultPath = "/tmp/vessio.log";

  VxLog(std::filesystem::path file, const platform::Clock& clock, Mirror mirror = writeToStandardError);

  // Appends one line to the file and writes it to the mirror. Any thread; file errors are ignored.
  void log(std::string_view message) const;

  // Empties the file once per launch, under the same safety rules as writing.
  void emptyFile() const;

  [[nodiscard]] const std::filesystem::path& file() const { return file_; }

  // "[" + local time as HH:mm:ss.SSS + "] " + message + "\n".
  static std::string formatLine(std::chrono::system_clock::time_point time, std::string_view message);

  static void writeToStandardError(std::string_view line);

 private:
  std::filesystem::path file_;
  const platform::Clock& clock_;
  Mirror mirror_;
};

}  // namespace quillet::dictate
