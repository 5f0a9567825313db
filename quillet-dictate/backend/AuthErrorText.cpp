#include "quillet-dictate/backend/AuthErrorText.h"

#include <initializer_list>

#include "common/text/UnicodeText.h"
#include "quillet-dictate/backend/ErrorBody.h"

namespace quillet::dictate {

namespace {

bool containsAny(std::string_view text, std::initializer_list<std::string_view> fragments) {
  for (const auto fragment : fragments) {
    if (text.find(fragment) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

std::optional<std::string> AuthErrorText::extractMessage(std::string_view body) {
  bool isObject = false;
  if (auto message = ErrorBody::firstStringMember(body, {"error_description", "msg", "message", "error"}, isObject)) {
    return message;
  }
  // An object without a sentence gives nothing, so the caller falls back to the status.
  if (isObject) return std::nullopt;
  return ErrorBody::asText(body);
}

std::string AuthErrorText::friendlyAuthError(std::string_view errorDescription, AuthMode mode) {
  const std::string lowered = text::lowercased(errorDescription);
  if (containsAny(lowered, {"already registered", "user already"})) {
    return "That email already has an account. Try signing in instead.";
  }
  if (containsAny(lowered, {"invalid login", "invalid credentials"})) return "Email or password doesn't match. Try again.";
  // Any mention of a password with the digit 6 is the server's minimum-length rule; the form asks for eight.
  if (containsAny(lowered, {"password"}) && containsAny(lowered, {"6"})) return "Password must be at least 8 characters.";
  if (containsAny(lowered, {"network", "connection"})) return "Can't reach the server. Check your internet.";
  const std::string prefix = mode == AuthMode::signin ? "Couldn't sign in: " : "Couldn't create account: ";
  return prefix + std::string(errorDescription);
}

}  // namespace quillet::dictate
