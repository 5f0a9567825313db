#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/result/Expected.h"

namespace quillet::platform {

// One HTTP request; headers keep their order and may repeat.
struct HttpRequest {
  std::string method = "GET";
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  // A total deadline for the whole exchange, from connecting to the last byte of the answer.
  std::chrono::milliseconds timeout{std::chrono::seconds(30)};
};

// A deadline given in seconds, as the callers' tables give them, to the nearest millisecond.
inline std::chrono::milliseconds timeoutOfSeconds(double seconds) {
  return std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(seconds * 1000)));
}

// What the server answered, whatever the status.
struct HttpResponse {
  int status = 0;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
};

// The request never got an answer: no connection, TLS failure, timeout, broken transfer.
struct HttpTransportError {
  std::string description;
};

// The answer, or why there is none.
using HttpResult = Expected<HttpResponse, HttpTransportError>;

// A request in flight. cancel() aborts the transfer and drops its completion; copies share the request,
// and a call that is already finished or was never started ignores it.
class HttpCall {
 public:
  HttpCall() = default;
  explicit HttpCall(std::function<void()> cancel) : cancel_(std::move(cancel)) {}

  void cancel() const {
    if (cancel_) cancel_();
  }

 private:
  std::function<void()> cancel_;
};

// Sends requests without ever blocking its caller: any number may be in flight at once, each with its own
// deadline. Main thread only; completions run on the main loop.
class HttpClient {
 public:
  using Completion = std::function<void(HttpResult)>;

  virtual ~HttpClient() = default;

  // Starts `request` and returns at once. `completion` runs exactly once on the main loop with the answer or
  // the failure, unless the call is cancelled first; when the client ends, requests in flight are
  // abandoned and their completions never run.
  virtual HttpCall start(HttpRequest request, Completion completion) = 0;
};

}  // namespace quillet::platform
