#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "quillet-dictate/shell/VxLog.h"

namespace quillet::test {

// Keeps every line a log channel mirrors, from any thread, for a test to read back.
class CapturedLog {
 public:
  // The mirror to hand to the log channel under test; this object must outlive that channel.
  [[nodiscard]] dictate::VxLog::Mirror mirror() {
    return [this](std::string_view line) {
      std::lock_guard lock(mutex_);
      lines_.emplace_back(line);
    };
  }

  // Whole lines: "[HH:mm:ss.SSS] message\n".
  [[nodiscard]] std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

  // The messages alone, without time stamp and line feed.
  [[nodiscard]] std::vector<std::string> messages() const {
    std::vector<std::string> messages;
    for (const auto& line : lines()) {
      std::string_view message = line;
      if (const auto stamp = message.find("] "); stamp != std::string_view::npos) message.remove_prefix(stamp + 2);
      if (message.ends_with('\n')) message.remove_suffix(1);
      messages.emplace_back(message);
    }
    return messages;
  }

  // Every line as logged, for a failure message.
  [[nodiscard]] std::string text() const {
    std::string all;
    for (const auto& line : lines()) all += line;
    return all;
  }

  [[nodiscard]] bool contains(std::string_view message) const {
    for (const auto& logged : messages()) {
      if (logged == message) return true;
    }
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace quillet::test
