#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json_fwd.hpp>

#include "common/result/Expected.h"
#include "platform/HttpClient.h"
#include "quillet-dictate/backend/VessioAuthError.h"
#include "quillet-dictate/shell/SettingsManager.h"

namespace quillet::dictate {

// The agent's own session client: password sign-in and sign-up, the token refresh after a 401,
// and sign-out. It keeps no state: the session is the token pair in the settings store.
class AuthService {
 public:
  // Runs on the main loop with success or the failure.
  using Completion = std::function<void(Expected<void, VessioAuthError>)>;

  static constexpr double kTimeoutSeconds = 15;

  AuthService(platform::HttpClient& http, SettingsManager& settings);

  // Main thread. On success the new token pair is stored, access token first.
  void signIn(const std::string& email, const std::string& password, Completion completion);
  void signUp(const std::string& email, const std::string& password, Completion completion);
  // Fails with noRefreshToken, without a request, when no refresh token is stored; a failed
  // refresh leaves the stored pair as it was.
  void refresh(Completion completion);
  // Forgets the session; no request is sent.
  void signOut();

  // The tokens of a successful auth answer, or badResponse when the body does not decode or lacks either.
  static Expected<std::pair<std::string, std::string>, VessioAuthError> decodeTokens(std::string_view body);

 private:
  using Outcome = Expected<std::string, VessioAuthError>;

  // Sends one auth request, then stores the tokens of its answer.
  void postThenIngest(const char* path, const nlohmann::json& body, Completion completion);
  // The body of a successful answer, or the failure the answer or its absence stands for.
  static Outcome interpret(platform::HttpResult result);

  platform::HttpClient& http_;
  SettingsManager& settings_;
};

}  // namespace quillet::dictate
