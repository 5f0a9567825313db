#pragma once

#include <string>

namespace quillet::dictate {

// The error of the agent's AI client; description() is the text the HUD shows.
struct VessioError {
  enum class Kind { api, decode, httpStatus, noApiKey, signedOut };

  Kind kind = Kind::api;
  std::string message;  // api: the message; decode: the detail; httpStatus: the server's message
  int status = 0;       // httpStatus only

  static VessioError api(std::string message) { return {Kind::api, std::move(message), 0}; }
  static VessioError decode(std::string detail) { return {Kind::decode, std::move(detail), 0}; }
  static VessioError httpStatus(int status, std::string message) { return {Kind::httpStatus, std::move(message), status}; }
  static VessioError noApiKey() { return {Kind::noApiKey, {}, 0}; }
  static VessioError signedOut() { return {Kind::signedOut, {}, 0}; }

  [[nodiscard]] std::string description() const;

  bool operator==(const VessioError&) const = default;
};

}  // namespace quillet::dictate
