#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::capture::testing {

// Lines handed over from other threads (diagnostics, handled commands), which a test can wait for.
class CollectedLines {
 public:
  void add(std::string_view line) {
    {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    }
    changed_.notify_all();
  }

  // Waits until at least `count` lines arrived; answers false after a generous real-time limit,
  // which only a broken component reaches.
  bool waitForCount(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return lines_.size() >= count; });
  }

  [[nodiscard]] std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

  // A sink for the components' diagnostics.
  auto sink() {
    return [this](std::string_view line) { add(line); };
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
};

}  // namespace quillet::capture::testing
