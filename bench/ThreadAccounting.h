#pragma once

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "tests/support/FileContents.h"

namespace quillet::bench {

// Per-thread CPU time and wake-ups of a process, by thread name, from the scheduler's own accounts.
// `process` is a folder such as "/proc/self" or "/proc/1234".
struct ThreadAccounting {
  std::map<std::string, double> cpuSeconds;
  std::map<std::string, long long> wakeUps;

  static ThreadAccounting of(const std::filesystem::path& process) {
    ThreadAccounting accounting;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(process / "task", error)) {
      std::string name = test::readFile(task.path() / "comm");
      if (!name.empty() && name.back() == '\n') name.pop_back();
      std::istringstream fields(test::readFile(task.path() / "schedstat"));
      unsigned long long runNanoseconds = 0;
      fields >> runNanoseconds;
      accounting.cpuSeconds[name] += double(runNanoseconds) / 1e9;
      // Voluntary switches are the times the thread blocked and was woken again.
      const std::string status = test::readFile(task.path() / "status");
      const std::string label = "voluntary_ctxt_switches:";
      const auto at = status.find(label);
      if (at != std::string::npos) accounting.wakeUps[name] += std::stoll(status.substr(at + label.size()));
    }
    return accounting;
  }

  [[nodiscard]] double totalCpuSeconds() const {
    double total = 0;
    for (const auto& [name, seconds] : cpuSeconds) total += seconds;
    return total;
  }

  [[nodiscard]] long long totalWakeUps() const {
    long long total = 0;
    for (const auto& [name, count] : wakeUps) total += count;
    return total;
  }
};

}  // namespace quillet::bench
