#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::test {

// A stand-in for /proc: one folder per process holding only the entries a test gives it.
class FakeProcessFolder {
 public:
  // What a process shows; entries left unset do not exist, as when /proc refuses to show them.
  struct Process {
    std::optional<std::string> cgroup{};
    std::optional<std::string> environment{};  // NUL-separated, as in /proc/<pid>/environ
    std::optional<std::string> executable{};   // where the "exe" link points
    std::optional<std::string> command{};      // "comm", with its line feed
    std::optional<std::string> flatpakInfo{};  // "root/.flatpak-info"
    std::uint64_t startTime = 100;
    bool isKernelThread = false;
  };

  void add(int processId, const Process& process) const {
    const auto folder = root() / std::to_string(processId);
    std::filesystem::create_directories(folder);
    writeFile(folder / "stat", statLine(processId, process));
    writeIfSet(folder / "cgroup", process.cgroup);
    writeIfSet(folder / "environ", process.environment);
    writeIfSet(folder / "comm", process.command);
    if (process.executable) std::filesystem::create_symlink(*process.executable, folder / "exe");
    if (process.flatpakInfo) {
      std::filesystem::create_directories(folder / "root");
      writeFile(folder / "root/.flatpak-info", *process.flatpakInfo);
    }
  }

  void remove(int processId) const { std::filesystem::remove_all(root() / std::to_string(processId)); }

  [[nodiscard]] const std::filesystem::path& root() const { return folder_.path(); }

  // The stat line the kernel writes: the command in parentheses, then the fields from the state on.
  static std::string statLine(int processId, const Process& process) {
    const std::uint64_t flags = process.isKernelThread ? 0x00208040 : 0x00400100;
    return std::to_string(processId) + " (odd) name) S 1 1 1 0 -1 " + std::to_string(flags) +
           " 0 0 0 0 0 0 0 0 20 0 1 0 " + std::to_string(process.startTime) + " 0 0 18446744073709551615\n";
  }

 private:
  static void writeIfSet(const std::filesystem::path& path, const std::optional<std::string>& contents) {
    if (contents) writeFile(path, *contents);
  }

  TemporaryDirectory folder_;
};

}  // namespace quillet::test
