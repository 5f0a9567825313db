#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "platform/HttpClient.h"

namespace quillet::test {

// Passes every request on to a real client and keeps it as the code under test built it, so a
// test can check deadlines that the server cannot see. Deadlines may be shortened by a factor,
// so a test of a twelve-second limit against a silent server takes a fraction of that.
class RecordingHttpClient final : public platform::HttpClient {
 public:
  explicit RecordingHttpClient(platform::HttpClient& real, int timeoutDivisor = 1)
      : real_(real), timeoutDivisor_(timeoutDivisor) {}

  platform::HttpCall start(platform::HttpRequest request, Completion completion) override {
    {
      std::lock_guard lock(mutex_);
      sent_.push_back(request);
    }
    request.timeout /= timeoutDivisor_.load();
    return real_.start(std::move(request), std::move(completion));
  }

  [[nodiscard]] std::vector<platform::HttpRequest> sent() const {
    std::lock_guard lock(mutex_);
    return sent_;
  }

  void setTimeoutDivisor(int divisor) { timeoutDivisor_ = divisor; }

 private:
  platform::HttpClient& real_;
  std::atomic<int> timeoutDivisor_;
  mutable std::mutex mutex_;
  std::vector<platform::HttpRequest> sent_;
};

}  // namespace quillet::test
