#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillet::dictate {

// Which action of the account form failed.
enum class AuthMode { signup, signin };

// How the session client reads the backend's auth errors and how the account form words them.
struct AuthErrorText {
  // The server's sentence in an auth error body: the first string member of "error_description",
  // "msg", "message", "error" of a JSON object (nothing when none is a string), or the whole
  // body when it is not a JSON object and is valid UTF-8.
  static std::optional<std::string> extractMessage(std::string_view body);

  // The sentence the account form shows for a failed sign-in or sign-up, given the error's description.
  static std::string friendlyAuthError(std::string_view errorDescription, AuthMode mode);
};

}  // namespace quillet::dictate
