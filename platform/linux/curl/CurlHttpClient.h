#pragma once

#include "platform/HttpClient.h"

namespace quillet::platform::curl {

// An HttpClient on libcurl: one easy handle per request, TLS verified, no redirects followed,
// and a transport failure described without the URL's query, its credentials or any header.
class CurlHttpClient final : public HttpClient {
 public:
  CurlHttpClient();

  HttpResult send(const HttpRequest& request) override;
};

}  // namespace quillet::platform::curl
