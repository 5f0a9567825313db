#pragma once

#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

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

using HttpResult = std::variant<HttpResponse, HttpTransportError>;

// Sends one request and blocks until it is answered or fails. Safe to call from several worker
// threads at once; never call it on the main thread.
class HttpClient {
 public:
  virtual ~HttpClient() = default;

  virtual HttpResult send(const HttpRequest& request) = 0;
};

}  // namespace quillet::platform
