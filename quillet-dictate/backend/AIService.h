#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "common/runtime/Weakly.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "quillet-dictate/backend/AIFailure.h"
#include "quillet-dictate/backend/AuthService.h"
#include "quillet-dictate/backend/VessioError.h"
#include "quillet-dictate/shell/SettingsManager.h"
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

// The agent's client of the backend's AI functions, its AI-cleanup preference and usage metering.
// Requests read the session from the settings store at the moment they are built; every completion
// runs on the main loop.
class AIService {
 public:
  template <class Value>
  using Completion = std::function<void(AIOutcome<Value>)>;

  static constexpr double kCleanupTimeoutSeconds = 12;
  static constexpr double kUsageTimeoutSeconds = 8;
  static constexpr double kPreferenceTimeoutSeconds = 4;
  // A preference answer younger than this is used without asking again.
  static constexpr double kPreferenceCacheSeconds = 60;

  AIService(platform::HttpClient& http, SettingsManager& settings, AuthService& auth, const VxLog& log,
            const platform::Clock& clock);

  AIService(const AIService&) = delete;
  AIService& operator=(const AIService&) = delete;

  // Polishes a transcript through the backend and keeps the answer only when it is a faithful
  // rewrite; otherwise the trimmed transcript comes back. A blank transcript yields empty text
  // without a request. `mode` only matters as "custom", where `customPrompt` becomes the
  // instruction; `language` is accepted for the callers' sake and not sent.
  void cleanupVoiceText(const std::string& text, const std::string& mode, const std::optional<std::string>& customPrompt,
                        const std::optional<std::string>& language, Completion<std::string> completion);

  // Whether the user's backend preference turns the AI cleanup of dictations on. Never fails:
  // without a usable answer it is the last answer obtained, or true when there was none.
  void fetchAiCleanupEnabled(std::function<void(bool)> completion);

  // Meters one finished dictation of `seconds` of audio, rounded up; sessions under a second and
  // signed-out users are not metered. Failures are only logged.
  void recordDictation(double seconds);

  // The error an AI function's answer stands for, or nothing when it succeeded. Only status 200
  // succeeds (201 and 204 are errors); 401 means the session expired, whatever the body says.
  static Expected<void, VessioError> throwIfHTTPError(int status, std::string_view body);

  // The server's message: the string member "error" of a JSON object body, else the whole body
  // when it is valid UTF-8, else nothing.
  static std::optional<std::string> extractErrorMessage(std::string_view body);

 private:
  struct FunctionCall {
    std::string path;
    nlohmann::json body;
    double timeoutSeconds = 0;
  };
  struct CachedPreference {
    bool value = false;
    std::chrono::nanoseconds at{0};
  };

  // One POST to an AI function, built with the access token stored right now; only an answer with
  // status 200 succeeds.
  void postJSON(const FunctionCall& call, Completion<std::string> completion);
  // postJSON, and after an expired session one refresh and one more attempt, never a third.
  void postJSONWithRefresh(FunctionCall call, Completion<std::string> completion);

  // One request to the cleanup function, answering its "cleaned" text.
  void cloudDictationCleanup(const std::string& text, const std::optional<std::string>& system,
                             Completion<std::string> completion);

  // The answer read from the backend, or nothing when there is no usable one.
  void requestAiCleanupPreference(std::function<void(std::optional<bool>)> completion) const;
  static std::optional<bool> preferenceInAnswer(const platform::HttpResponse& response);

  platform::HttpClient& http_;
  SettingsManager& settings_;
  AuthService& auth_;
  const VxLog& log_;
  const platform::Clock& clock_;

  std::optional<CachedPreference> cachedAiCleanup_;
  // Last, so that callbacks still in flight see this object end before any of its members do.
  Lifetime lifetime_;
};

}  // namespace quillet::dictate
