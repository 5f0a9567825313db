#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace quillet::dictate {

// Reading a server's error sentence out of a response body, shared by the AI and session clients.
struct ErrorBody {
  // The first of `members` whose value is a string, when the body is a JSON object; `isObject`
  // tells the caller whether it was one, since the clients treat other objects differently.
  static std::optional<std::string> firstStringMember(std::string_view body,
                                                      std::initializer_list<std::string_view> members, bool& isObject);

  // The whole body as text, or nothing when it is not valid UTF-8.
  static std::optional<std::string> asText(std::string_view body);
};

}  // namespace quillet::dictate
