#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/HttpClient.h"

namespace quillet::dictate {

// A multipart/form-data request body, built byte for byte the way the speech services expect:
// each part opened by "--boundary" CRLF, its header lines each ending in CRLF, an empty line, the
// content and a CRLF; the body closed by "--boundary--" CRLF.
class MultipartBody {
 public:
  explicit MultipartBody(std::string boundary) : boundary_(std::move(boundary)) {}

  void addPart(const std::vector<std::string>& headerLines, std::string_view content);

  // The value of the request's "Content-Type" header.
  [[nodiscard]] std::string contentType() const { return "multipart/form-data; boundary=" + boundary_; }

  // The finished body; parts cannot be added afterwards.
  [[nodiscard]] std::string finish() &&;

  // The finished body as one POST request with its content type after `headers`.
  [[nodiscard]] platform::HttpRequest postRequest(std::string url,
                                                  std::vector<std::pair<std::string, std::string>> headers,
                                                  double timeoutSeconds) &&;

 private:
  std::string boundary_;
  std::string body_;
};

}  // namespace quillet::dictate
