#include "quillet-dictate/transcription/MultipartBody.h"

namespace quillet::dictate {

namespace {
constexpr std::string_view kLineEnd = "\r\n";
}

void MultipartBody::addPart(const std::vector<std::string>& headerLines, std::string_view content) {
  body_.append("--").append(boundary_).append(kLineEnd);
  for (const auto& line : headerLines) body_.append(line).append(kLineEnd);
  body_.append(kLineEnd).append(content).append(kLineEnd);
}

platform::HttpRequest MultipartBody::postRequest(std::string url,
                                                std::vector<std::pair<std::string, std::string>> headers,
                                                double timeoutSeconds) && {
  platform::HttpRequest request;
  request.method = "POST";
  request.url = std::move(url);
  request.headers = std::move(headers);
  request.headers.emplace_back("Content-Type", contentType());
  request.body = std::move(*this).finish();
  request.timeout = platform::timeoutOfSeconds(timeoutSeconds);
  return request;
}

std::string MultipartBody::finish() && {
  body_.append("--").append(boundary_).append("--").append(kLineEnd);
  return std::move(body_);
}

}  // namespace quillet::dictate
