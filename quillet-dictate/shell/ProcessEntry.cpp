#include "quillet-dictate/shell/ProcessEntry.h"


#include "common/contract/EnvironmentVariables.h"

namespace quillet::dictate {

namespace {

std::optional<std::string> nonEmpty(std::optional<std::string> value) {
  if (!value || value->empty()) return std::nullopt;
  return value;
}

}  // namespace

bool ProcessEntry::applyEnvironment(const EnvironmentLookup& environment, SettingsManager& settings,
                                    const VxLog& log) {
  bool sessionArrived = false;
  // One write for all of them: the host may hold the store's lock, and the session must not wait once per key.
  settings.assignTogether([&] {
    // Only an https origin is taken; anything else keeps the stored or default one, silently.
    if (auto url = environment(environment::kSupabaseURL); url && url->starts_with("https://")) {
      settings.supabaseURL.set(*url);
    }
    if (auto anonKey = nonEmpty(environment(environment::kAnonKey))) settings.supabaseAnonKey.set(*anonKey);

    auto accessToken = nonEmpty(environment(environment::kAccessToken));
    if (!accessToken) return;
    settings.supabaseAccessToken.set(*accessToken);
    // A refresh token means something only together with the access token it belongs to.
    if (auto refreshToken = nonEmpty(environment(environment::kRefreshToken))) {
      settings.supabaseRefreshToken.set(*refreshToken);
    }
    sessionArrived = true;
  });
  if (sessionArrived) log.log("🔑 session tokens received from the app (muse enabled)");
  return sessionArrived;
}

}  // namespace quillet::dictate
