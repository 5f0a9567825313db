#pragma once

#include <cstdint>
#include <memory>

#include "platform/HttpClient.h"
#include "platform/MainLoop.h"

namespace quillet::platform::curl {

// An HttpClient on libcurl's multi interface: one I/O thread carries every request in flight, each with
// its own deadline; TLS verified, no redirects followed, a request to this machine never proxied, and a
// transport failure described without the URL's query, its credentials or any header. Ending the client
// abandons what is in flight at once.
class CurlHttpClient final : public HttpClient {
 public:
  explicit CurlHttpClient(MainLoop& mainLoop);
  ~CurlHttpClient() override;

  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  HttpCall start(HttpRequest request, Completion completion) override;

 private:
  struct Transfer;
  struct Engine;

  std::shared_ptr<Engine> engine_;
  std::uint64_t lastId_ = 0;
};

}  // namespace quillet::platform::curl
