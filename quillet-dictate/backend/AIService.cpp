#include "quillet-dictate/backend/AIService.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/contract/BackendEndpoints.h"
#include "quillet-dictate/backend/BackendAddress.h"
#include "quillet-dictate/backend/ErrorBody.h"

namespace quillet::dictate {

namespace {

bool isExpiredSession(const AIOutcome<std::string>& outcome) {
  const VessioError* error = outcome.failed() ? outcome.error().vessioError() : nullptr;
  return error != nullptr && error->kind == VessioError::Kind::signedOut;
}

}  // namespace

AIService::AIService(platform::HttpClient& http, SettingsManager& settings, AuthService& auth, const VxLog& log,
                     const platform::Clock& clock)
    : http_(http), settings_(settings), auth_(auth), log_(log), clock_(clock) {}

void AIService::postJSON(const FunctionCall& call, Completion<std::string> completion) {
  auto url = BackendAddress::join(settings_.supabaseURL.get(), call.path);
  if (url.failed()) {
    completion(AIFailure{VessioError::api("bad URL")});
    return;
  }
  platform::HttpRequest request;
  request.method = "POST";
  request.url = std::move(url).value();
  // The token is read now, so a retry after a refresh carries the new one; an empty one still
  // goes out as "Bearer " and the server answers 401.
  request.headers = {{backend::header::kContentType, "application/json"},
                     {backend::header::kAuthorization, backend::header::kBearerPrefix + settings_.supabaseAccessToken.get()}};
  request.body = call.body.dump();
  request.timeout = platform::timeoutOfSeconds(call.timeoutSeconds);

  http_.start(std::move(request), [completion = std::move(completion)](platform::HttpResult result) {
    auto answer = answerOf(std::move(result));
    if (answer.failed()) {
      completion(std::move(answer).error());
      return;
    }
    auto& response = answer.value();
    if (auto checked = throwIfHTTPError(response.status, response.body); checked.failed()) {
      completion(AIFailure{std::move(checked).error()});
      return;
    }
    completion(std::move(response.body));
  });
}

void AIService::postJSONWithRefresh(FunctionCall call, Completion<std::string> completion) {
  postJSON(call, [this, alive = lifetime_.watch(), call,
                  completion = std::move(completion)](AIOutcome<std::string> first) mutable {
    if (alive.ended()) return;
    if (!isExpiredSession(first)) {
      completion(std::move(first));
      return;
    }
    // Each caller refreshes for itself: concurrent expiries are not merged into one refresh.
    auth_.refresh([this, alive = lifetime_.watch(), call = std::move(call),
                   completion = std::move(completion)](Expected<void, VessioAuthError> refreshed) mutable {
      if (alive.ended()) return;
      if (refreshed.failed()) {
        completion(AIFailure{std::move(refreshed).error()});
        return;
      }
      postJSON(call, std::move(completion));
    });
  });
}

Expected<void, VessioError> AIService::throwIfHTTPError(int status, std::string_view body) {
  if (status == backend::status::kSuccess) return {};
  if (status == backend::status::kSessionExpired) return VessioError::signedOut();
  auto message = extractErrorMessage(body);
  return VessioError::httpStatus(status, message ? std::move(*message) : "status " + std::to_string(status));
}

std::optional<std::string> AIService::extractErrorMessage(std::string_view body) {
  bool isObject = false;
  if (auto message = ErrorBody::firstStringMember(body, {"error"}, isObject)) return message;
  // Any other body, objects included, is the message as it stands.
  return ErrorBody::asText(body);
}

void AIService::fetchAiCleanupEnabled(std::function<void(bool)> completion) {
  if (cachedAiCleanup_ &&
      clock_.monotonicNow() - cachedAiCleanup_->at <
          std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(kPreferenceCacheSeconds))) {
    completion(cachedAiCleanup_->value);
    return;
  }
  requestAiCleanupPreference([this, alive = lifetime_.watch(),
                              completion = std::move(completion)](std::optional<bool> answer) {
    if (alive.ended()) return;
    if (answer) {
      cachedAiCleanup_ = CachedPreference{*answer, clock_.monotonicNow()};
      completion(*answer);
      return;
    }
    // However old, the last answer is a better guess than the default.
    completion(cachedAiCleanup_ ? cachedAiCleanup_->value : true);
  });
}

void AIService::requestAiCleanupPreference(std::function<void(std::optional<bool>)> completion) const {
  const std::string accessToken = settings_.supabaseAccessToken.get();
  auto url = BackendAddress::join(settings_.supabaseURL.get(), backend::path::kAiCleanupPreference);
  if (accessToken.empty() || url.failed()) {
    completion(std::nullopt);
    return;
  }
  platform::HttpRequest request;
  request.method = "GET";
  request.url = std::move(url).value();
  request.headers = {{backend::header::kApiKey, settings_.supabaseAnonKey.get()},
                     {backend::header::kAuthorization, backend::header::kBearerPrefix + accessToken}};
  request.timeout = platform::timeoutOfSeconds(kPreferenceTimeoutSeconds);

  http_.start(std::move(request), [&log = log_, completion = std::move(completion)](platform::HttpResult result) {
    if (result.failed()) {
      log.log("⚠️ ai-cleanup preference fetch failed: " + result.error().description);
      completion(std::nullopt);
      return;
    }
    completion(preferenceInAnswer(result.value()));
  });
}

std::optional<bool> AIService::preferenceInAnswer(const platform::HttpResponse& response) {
  if (response.status != backend::status::kSuccess) return std::nullopt;
  const auto rows = nlohmann::json::parse(response.body, nullptr, false);
  if (!rows.is_array() || rows.empty() ||
      !std::all_of(rows.begin(), rows.end(), [](const nlohmann::json& row) { return row.is_object(); })) {
    return std::nullopt;
  }
  // A missing, null or non-boolean member reads as off.
  const auto member = rows.front().find("dictation_ai_cleanup");
  return member != rows.front().end() && member->is_boolean() && member->get<bool>();
}

void AIService::recordDictation(double seconds) {
  // A NaN fails the comparison too; an infinite or absurd duration is not a measurement and is not
  // metered either, since it has no integer number of seconds.
  constexpr double kLargestWholeSeconds = 9e15;
  if (settings_.supabaseAccessToken.get().empty() || !(seconds >= 1 && seconds <= kLargestWholeSeconds)) return;
  const auto roundedUp = std::int64_t(std::ceil(seconds));
  postJSONWithRefresh({backend::path::kUsageRecord, {{"kind", "dictation"}, {"seconds", roundedUp}}, kUsageTimeoutSeconds},
                      [this, alive = lifetime_.watch(), roundedUp](AIOutcome<std::string> outcome) {
                        if (alive.ended()) return;
                        if (outcome.failed()) {
                          log_.log("⚠️ usage-record failed: " + outcome.error().description());
                        } else {
                          log_.log("⏱ usage: dictation " + std::to_string(roundedUp) + "s recorded");
                        }
                      });
}

}  // namespace quillet::dictate
