#include "quillet-dictate/backend/BackendAddress.h"

#include <algorithm>
#include <cctype>

namespace quillet::dictate {

Expected<std::string> BackendAddress::join(std::string_view origin, std::string_view path) {
  std::string url;
  url.reserve(origin.size() + path.size());
  url.append(origin).append(path);
  const bool formsAnAddress = !url.empty() && std::none_of(url.begin(), url.end(), [](char character) {
    return std::iscntrl(static_cast<unsigned char>(character)) != 0 || character == ' ';
  });
  if (!formsAnAddress) return Error(url.empty() ? "no address" : "an address holds no blanks or control characters");
  return url;
}

}  // namespace quillet::dictate
