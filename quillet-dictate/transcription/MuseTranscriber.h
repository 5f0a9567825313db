#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/runtime/Weakly.h"
#include "platform/Clock.h"
#include "platform/HttpClient.h"
#include "quillet-dictate/backend/AIFailure.h"
#include "quillet-dictate/backend/AuthService.h"
#include "quillet-dictate/shell/SettingsManager.h"

namespace quillet::dictate {

// The cloud route of transcription: the backend hands out a key for the external speech service and
// a plan of providers to try; each chunk goes to the first provider that answers. The key and plan
// are fetched once per process and again only after the service refused the key.
class MuseTranscriber {
 public:
  using WavBytes = std::shared_ptr<const std::vector<std::uint8_t>>;
  using TextCompletion = std::function<void(AIOutcome<std::string>)>;

  static constexpr double kKeyTimeoutSeconds = 10;
  static constexpr double kUploadTimeoutSeconds = 25;
  // How long the hosted whisper provider is left alone after it refused a request.
  static constexpr double kWhisperSkipSeconds = 600;

  // `batchURL` is the external service's transcription endpoint.
  MuseTranscriber(platform::HttpClient& http, SettingsManager& settings, AuthService& auth,
                  const platform::Clock& clock, std::string batchURL);

  MuseTranscriber(const MuseTranscriber&) = delete;
  MuseTranscriber& operator=(const MuseTranscriber&) = delete;

  // The text of the first provider of the plan that succeeds; the completion runs on the main loop.
  void transcribe(WavBytes wav, TextCompletion completion);

  // The transcript in the external service's answer: "transcript", else the "turns" in start order,
  // else "text".
  static AIOutcome<std::string> parseTranscript(std::string_view body);

 private:
  struct Plan {
    std::vector<std::string> order;
    std::optional<std::string> whisperURL;
    std::optional<std::string> whisperKey;
  };
  struct Attempt;

  // The cached key, or a fresh one from the backend (which also renews the plan).
  void apiKey(TextCompletion completion);
  // One key lookup; after a 401 the session is refreshed and the lookup repeated once.
  void fetchKey(bool mayRefresh, TextCompletion completion);
  AIOutcome<std::string> acceptKeyAnswer(std::string_view body);

  void tryProvider(std::shared_ptr<Attempt> attempt);
  void retryWithNewKey(std::shared_ptr<Attempt> attempt);

  // Each provider's upload and the transcript in its answer.
  [[nodiscard]] platform::HttpRequest museRequest(const std::vector<std::uint8_t>& wav, const std::string& key) const;
  static AIOutcome<std::string> museText(platform::HttpResult result);
  static platform::HttpRequest whisperRequest(const std::vector<std::uint8_t>& wav, const std::string& url,
                                              const std::string& key);
  static AIOutcome<std::string> whisperText(platform::HttpResult result);

  [[nodiscard]] bool whisperUsable() const;

  platform::HttpClient& http_;
  SettingsManager& settings_;
  AuthService& auth_;
  const platform::Clock& clock_;
  const std::string batchURL_;

  std::optional<std::string> cachedKey_;
  Plan plan_{{"muse"}, std::nullopt, std::nullopt};
  std::chrono::nanoseconds whisperSkipUntil_{std::chrono::nanoseconds::min()};
  // Last, so that callbacks still in flight see this object end before any of its members do.
  Lifetime lifetime_;
};

}  // namespace quillet::dictate
