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

std::string MultipartBody::finish() && {
  body_.append("--").append(boundary_).append("--").append(kLineEnd);
  return std::move(body_);
}

}  // namespace quillet::dictate
