#pragma once

// The hosted backend as the agent uses it: paths under the configured origin,
// and the headers that carry the keys. Nothing else names these strings.
namespace quillet::backend {

namespace path {
inline constexpr const char* kPasswordSignIn = "/auth/v1/token?grant_type=password";
inline constexpr const char* kSignUp = "/auth/v1/signup";
inline constexpr const char* kRefreshToken = "/auth/v1/token?grant_type=refresh_token";
inline constexpr const char* kAiCleanupPreference = "/rest/v1/user_preferences?select=dictation_ai_cleanup";
inline constexpr const char* kDictateCleanup = "/functions/v1/dictate-cleanup";
inline constexpr const char* kVoiceCleanup = "/functions/v1/voice-cleanup";
inline constexpr const char* kUsageRecord = "/functions/v1/usage-record";
inline constexpr const char* kMuseKey = "/functions/v1/muse-key";
}  // namespace path

namespace header {
inline constexpr const char* kApiKey = "apikey";
inline constexpr const char* kAuthorization = "Authorization";
inline constexpr const char* kContentType = "Content-Type";
// Prefix of the "Authorization" value; the anonymous key or the access token follows.
inline constexpr const char* kBearerPrefix = "Bearer ";
}  // namespace header

// Statuses every function caller interprets alike.
namespace status {
inline constexpr int kSuccess = 200;
inline constexpr int kSessionExpired = 401;
}  // namespace status

}  // namespace quillet::backend
