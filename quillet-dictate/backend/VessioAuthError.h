#pragma once

#include <string>

namespace quillet::dictate {

// The error of the agent's session client; description() is the text the account form builds on.
struct VessioAuthError {
  enum class Kind { http, network, badResponse, noRefreshToken };

  Kind kind = Kind::badResponse;
  std::string message;  // http and network only
  int status = 0;       // http only

  static VessioAuthError http(int status, std::string message) { return {Kind::http, std::move(message), status}; }
  static VessioAuthError network(std::string message) { return {Kind::network, std::move(message), 0}; }
  static VessioAuthError badResponse() { return {Kind::badResponse, {}, 0}; }
  static VessioAuthError noRefreshToken() { return {Kind::noRefreshToken, {}, 0}; }

  [[nodiscard]] std::string description() const;

  bool operator==(const VessioAuthError&) const = default;
};

}  // namespace quillet::dictate
