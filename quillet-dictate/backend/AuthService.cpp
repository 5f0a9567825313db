#include "quillet-dictate/backend/AuthService.h"

#include <chrono>

#include <nlohmann/json.hpp>

#include "common/contract/BackendEndpoints.h"
#include "quillet-dictate/backend/AuthErrorText.h"
#include "quillet-dictate/backend/BackendAddress.h"

namespace quillet::dictate {

namespace {

// An optional text member: absent or null is no value; any other type fails the decoding.
bool readOptionalText(const nlohmann::json& object, const char* member, std::string& value) {
  const auto found = object.find(member);
  if (found == object.end() || found->is_null()) return true;
  if (!found->is_string()) return false;
  value = found->get<std::string>();
  return true;
}

}  // namespace

AuthService::AuthService(platform::HttpClient& http, SettingsManager& settings) : http_(http), settings_(settings) {}

void AuthService::signIn(const std::string& email, const std::string& password, Completion completion) {
  postThenIngest(backend::path::kPasswordSignIn, {{"email", email}, {"password", password}}, std::move(completion));
}

void AuthService::signUp(const std::string& email, const std::string& password, Completion completion) {
  postThenIngest(backend::path::kSignUp, {{"email", email}, {"password", password}}, std::move(completion));
}

void AuthService::refresh(Completion completion) {
  const std::string refreshToken = settings_.supabaseRefreshToken.get();
  if (refreshToken.empty()) {
    completion(VessioAuthError::noRefreshToken());
    return;
  }
  postThenIngest(backend::path::kRefreshToken, {{"refresh_token", refreshToken}}, std::move(completion));
}

void AuthService::signOut() {
  settings_.supabaseAccessToken.set("");
  settings_.supabaseRefreshToken.set("");
}

void AuthService::postThenIngest(const char* path, const nlohmann::json& body, Completion completion) {
  platform::HttpRequest request;
  request.method = "POST";
  auto url = BackendAddress::join(settings_.supabaseURL.get(), path);
  if (url.failed()) {
    completion(VessioAuthError::network("bad URL"));
    return;
  }
  request.url = std::move(url).value();
  // Auth calls carry the anonymous key twice, also on refresh: the user's token may be the expired thing.
  const std::string anonKey = settings_.supabaseAnonKey.get();
  request.headers = {{backend::header::kContentType, "application/json"},
                     {backend::header::kApiKey, anonKey},
                     {backend::header::kAuthorization, backend::header::kBearerPrefix + anonKey}};
  request.body = body.dump();
  request.timeout = std::chrono::milliseconds(std::int64_t(kTimeoutSeconds * 1000));

  http_.start(std::move(request),
              [&settings = settings_, completion = std::move(completion)](platform::HttpResult result) {
                 Outcome outcome = interpret(std::move(result));
                 if (outcome.failed()) {
                   completion(std::move(outcome).error());
                   return;
                 }
                 auto tokens = decodeTokens(outcome.value());
                 if (tokens.failed()) {
                   completion(std::move(tokens).error());
                   return;
                 }
                 auto& [accessToken, refreshToken] = tokens.value();
                 settings.supabaseAccessToken.set(accessToken);
                 settings.supabaseRefreshToken.set(refreshToken);
                 completion({});
               });
}

AuthService::Outcome AuthService::interpret(platform::HttpResult result) {
  if (result.failed()) return VessioAuthError::network(result.error().description);
  auto& response = result.value();
  if (response.status >= 200 && response.status <= 299) return std::move(response.body);
  auto message = AuthErrorText::extractMessage(response.body);
  // An empty body has no sentence to show; the status is better than a form saying nothing.
  if (!message || message->empty()) message = "HTTP " + std::to_string(response.status);
  return VessioAuthError::http(response.status, std::move(*message));
}

Expected<std::pair<std::string, std::string>, VessioAuthError> AuthService::decodeTokens(std::string_view body) {
  const auto json = nlohmann::json::parse(body, nullptr, false);
  std::string accessToken;
  std::string refreshToken;
  if (!json.is_object() || !readOptionalText(json, "access_token", accessToken) ||
      !readOptionalText(json, "refresh_token", refreshToken) || accessToken.empty() || refreshToken.empty()) {
    return VessioAuthError::badResponse();
  }
  return std::pair{std::move(accessToken), std::move(refreshToken)};
}

}  // namespace quillet::dictate
