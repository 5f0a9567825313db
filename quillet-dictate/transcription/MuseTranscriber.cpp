#include "quillet-dictate/transcription/MuseTranscriber.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "common/contract/BackendEndpoints.h"
#include "common/text/UnicodeText.h"
#include "common/text/UuidString.h"
#include "quillet-dictate/backend/BackendAddress.h"
#include "quillet-dictate/backend/JsonAnswer.h"
#include "quillet-dictate/transcription/MultipartBody.h"

namespace quillet::dictate {

namespace {

constexpr const char* kMuseProvider = "muse";
constexpr const char* kWhisperProvider = "whisper";
constexpr const char* kMuseRequestPart = R"({"audioEncoding":"WAV","model":"muse-voice-transcribe-1.0"})";
constexpr std::size_t kErrorBodyPrefixBytes = 160;

std::string_view bytesAsText(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// "<prefix> http <status> <first 160 bytes of the body>", the body part empty when those bytes are not UTF-8.
VessioError uploadRefused(const char* provider, int status, std::string_view body) {
  const std::string_view head = body.substr(0, kErrorBodyPrefixBytes);
  return VessioError::api(std::string(provider) + " http " + std::to_string(status) + " " +
                          (text::isValidUTF8(head) ? std::string(head) : std::string()));
}

const VessioError* vessioErrorOf(const AIOutcome<std::string>& outcome) {
  return outcome.failed() ? outcome.error().vessioError() : nullptr;
}

bool containsAny(const std::string& text, std::initializer_list<std::string_view> fragments) {
  return std::any_of(fragments.begin(), fragments.end(),
                     [&](std::string_view fragment) { return text.find(fragment) != std::string::npos; });
}

// A member that may be absent or null; present with another type, the whole answer does not decode.
template <class Value>
bool readOptional(const nlohmann::json& object, const char* member, std::optional<Value>& value) {
  const auto found = object.find(member);
  if (found == object.end() || found->is_null()) return true;
  try {
    value = found->get<Value>();
    return true;
  } catch (const nlohmann::json::exception&) {
    return false;
  }
}

}  // namespace

// One chunk's way through the providers of the plan.
struct MuseTranscriber::Attempt {
  WavBytes wav;
  std::string key;
  std::vector<std::string> order;
  std::size_t next = 0;
  AIFailure pending{VessioError::api("no provider")};
  TextCompletion completion;
};

MuseTranscriber::MuseTranscriber(platform::HttpClient& http, SettingsManager& settings, AuthService& auth,
                                 const platform::Clock& clock, std::string batchURL)
    : http_(http), settings_(settings), auth_(auth), clock_(clock), batchURL_(std::move(batchURL)) {}

void MuseTranscriber::transcribe(WavBytes wav, TextCompletion completion) {
  apiKey([this, alive = lifetime_.watch(), wav = std::move(wav),
          completion = std::move(completion)](AIOutcome<std::string> key) mutable {
    if (alive.ended()) return;
    if (key.failed()) {
      completion(std::move(key).error());
      return;
    }
    auto attempt = std::make_shared<Attempt>();
    attempt->wav = std::move(wav);
    attempt->key = std::move(key).value();
    attempt->order = plan_.order;
    attempt->completion = std::move(completion);
    tryProvider(std::move(attempt));
  });
}

void MuseTranscriber::tryProvider(std::shared_ptr<Attempt> attempt) {
  while (attempt->next < attempt->order.size()) {
    const std::string provider = attempt->order[attempt->next++];
    if (provider == kWhisperProvider) {
      if (!whisperUsable()) continue;
      http_.start(whisperRequest(*attempt->wav, *plan_.whisperURL, *plan_.whisperKey),
                  [this, alive = lifetime_.watch(), attempt](platform::HttpResult result) {
                    if (alive.ended()) return;
                    auto outcome = whisperText(std::move(result));
                    if (outcome.hasValue()) {
                      attempt->completion(std::move(outcome));
                      return;
                    }
                    const VessioError* error = vessioErrorOf(outcome);
                    // A refusal of the request itself (bad request, key, payment, permission) will not pass soon.
                    if (error != nullptr && error->kind == VessioError::Kind::api &&
                        containsAny(error->message, {" 400", " 401", " 402", " 403"})) {
                      whisperSkipUntil_ = clock_.monotonicNow() + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                                      std::chrono::duration<double>(kWhisperSkipSeconds));
                    }
                    attempt->pending = std::move(outcome).error();
                    tryProvider(attempt);
                  });
      return;
    }
    if (provider == kMuseProvider) {
      http_.start(museRequest(*attempt->wav, attempt->key),
                  [this, alive = lifetime_.watch(), attempt](platform::HttpResult result) {
        if (alive.ended()) return;
        auto outcome = museText(std::move(result));
        if (outcome.hasValue()) {
          attempt->completion(std::move(outcome));
          return;
        }
        const VessioError* error = vessioErrorOf(outcome);
        if (error == nullptr) {
          // Transport and parser failures end the chunk's cloud attempt at once.
          attempt->completion(std::move(outcome));
          return;
        }
        if (error->kind == VessioError::Kind::api && error->message.find("401") != std::string::npos) {
          retryWithNewKey(attempt);
          return;
        }
        attempt->pending = std::move(outcome).error();
        tryProvider(attempt);
      });
      return;
    }
  }
  attempt->completion(std::move(attempt->pending));
}

// The service refused the key: it is fetched anew (with the plan) and the upload repeated once.
void MuseTranscriber::retryWithNewKey(std::shared_ptr<Attempt> attempt) {
  cachedKey_.reset();
  apiKey([this, alive = lifetime_.watch(), attempt](AIOutcome<std::string> key) {
    if (alive.ended()) return;
    if (key.failed()) {
      attempt->completion(std::move(key).error());
      return;
    }
    http_.start(museRequest(*attempt->wav, key.value()),
                [attempt](platform::HttpResult result) { attempt->completion(museText(std::move(result))); });
  });
}

bool MuseTranscriber::whisperUsable() const {
  return plan_.whisperURL && plan_.whisperKey && !plan_.whisperKey->empty() &&
         clock_.monotonicNow() >= whisperSkipUntil_;
}

void MuseTranscriber::apiKey(TextCompletion completion) {
  if (cachedKey_ && !cachedKey_->empty()) {
    completion(*cachedKey_);
    return;
  }
  fetchKey(true, std::move(completion));
}

void MuseTranscriber::fetchKey(bool mayRefresh, TextCompletion completion) {
  auto url = BackendAddress::join(settings_.supabaseURL.get(), backend::path::kMuseKey);
  if (url.failed()) {
    completion(AIFailure{VessioError::api("bad muse-key URL")});
    return;
  }
  const std::string accessToken = settings_.supabaseAccessToken.get();
  if (accessToken.empty()) {
    completion(AIFailure{VessioError::noApiKey()});
    return;
  }
  platform::HttpRequest request;
  request.method = "GET";
  request.url = std::move(url).value();
  request.headers = {{backend::header::kAuthorization, backend::header::kBearerPrefix + accessToken},
                     {backend::header::kApiKey, settings_.supabaseAnonKey.get()}};
  request.timeout = platform::timeoutOfSeconds(kKeyTimeoutSeconds);
  http_.start(std::move(request), [this, alive = lifetime_.watch(), mayRefresh,
                                   completion = std::move(completion)](platform::HttpResult result) mutable {
    if (alive.ended()) return;
    auto answer = answerOf(std::move(result));
    if (answer.failed()) {
      completion(std::move(answer).error());
      return;
    }
    const auto& response = answer.value();
    if (response.status == backend::status::kSessionExpired && mayRefresh) {
      auth_.refresh([this, alive = lifetime_.watch(),
                     completion = std::move(completion)](Expected<void, VessioAuthError> refreshed) mutable {
        if (alive.ended()) return;
        if (refreshed.failed()) {
          completion(AIFailure{std::move(refreshed).error()});
          return;
        }
        fetchKey(false, std::move(completion));
      });
      return;
    }
    if (response.status != backend::status::kSuccess) {
      completion(AIFailure{VessioError::api("muse-key http " + std::to_string(response.status))});
      return;
    }
    completion(acceptKeyAnswer(response.body));
  });
}

AIOutcome<std::string> MuseTranscriber::acceptKeyAnswer(std::string_view body) {
  const auto json = nlohmann::json::parse(body, nullptr, false);
  std::optional<std::string> key;
  std::optional<std::string> whisperKey;
  std::optional<nlohmann::json> plan;
  std::optional<std::vector<std::string>> order;
  std::optional<std::string> whisperURL;
  bool decoded = json.is_object() && readOptional(json, "key", key) && readOptional(json, "deepinfraKey", whisperKey) &&
                 readOptional(json, "plan", plan);
  if (decoded && plan) {
    decoded = plan->is_object() && readOptional(*plan, "dictation", order) && readOptional(*plan, "whisperUrl", whisperURL);
  }
  if (!decoded || !key || key->empty()) return AIFailure{VessioError::api("muse-key: empty key")};

  cachedKey_ = key;
  plan_.whisperKey = std::move(whisperKey);
  plan_.whisperURL = whisperURL ? BackendAddress::join(*whisperURL, "").toOptional() : std::nullopt;
  plan_.order = order ? std::move(*order) : std::vector<std::string>{kMuseProvider};
  return *key;
}

platform::HttpRequest MuseTranscriber::museRequest(const std::vector<std::uint8_t>& wav, const std::string& key) const {
  MultipartBody body("ql-muse-" + text::newUuidString());
  body.addPart({R"(Content-Disposition: form-data; name="request")", "Content-Type: application/json"}, kMuseRequestPart);
  body.addPart({R"(Content-Disposition: form-data; name="audio"; filename="chunk.wav")", "Content-Type: audio/wav"},
               bytesAsText(wav));
  return std::move(body).postRequest(batchURL_, {{backend::header::kAuthorization, backend::header::kBearerPrefix + key}},
                                     kUploadTimeoutSeconds);
}

AIOutcome<std::string> MuseTranscriber::museText(platform::HttpResult result) {
  auto answer = answerOf(std::move(result));
  if (answer.failed()) return std::move(answer).error();
  const auto& response = answer.value();
  if (response.status != backend::status::kSuccess) return AIFailure{uploadRefused("muse", response.status, response.body)};
  return parseTranscript(response.body);
}

platform::HttpRequest MuseTranscriber::whisperRequest(const std::vector<std::uint8_t>& wav, const std::string& url,
                                                      const std::string& key) {
  MultipartBody body("ql-whisper-" + text::newUuidString());
  body.addPart({R"(Content-Disposition: form-data; name="audio"; filename="chunk.wav")", "Content-Type: audio/wav"},
               bytesAsText(wav));
  // This provider's scheme name is written in lower case.
  return std::move(body).postRequest(url, {{backend::header::kAuthorization, "bearer " + key}}, kUploadTimeoutSeconds);
}

AIOutcome<std::string> MuseTranscriber::whisperText(platform::HttpResult result) {
  auto answer = answerOf(std::move(result));
  if (answer.failed()) return std::move(answer).error();
  const auto& response = answer.value();
  if (response.status != backend::status::kSuccess) {
    return AIFailure{uploadRefused("whisper", response.status, response.body)};
  }
  auto parsed = parseJsonAnswer(response.body);
  if (parsed.failed()) return std::move(parsed).error();
  const auto& json = parsed.value();
  const auto text = json.is_object() ? json.find("text") : json.end();
  if (!json.is_object() || text == json.end() || !text->is_string()) {
    return AIFailure{VessioError::decode("whisper: no text")};
  }
  return text::trimmedWhitespaceAndNewlines(text->get<std::string>());
}

AIOutcome<std::string> MuseTranscriber::parseTranscript(std::string_view body) {
  auto parsed = parseJsonAnswer(body);
  if (parsed.failed()) return std::move(parsed).error();
  const auto& json = parsed.value();
  if (!json.is_object()) return AIFailure{VessioError::decode("muse: not an object")};
  if (const auto transcript = json.find("transcript"); transcript != json.end() && transcript->is_string()) {
    return transcript->get<std::string>();
  }
  const auto turns = json.find("turns");
  if (turns != json.end() && turns->is_array() &&
      std::all_of(turns->begin(), turns->end(), [](const nlohmann::json& turn) { return turn.is_object(); })) {
    std::vector<const nlohmann::json*> ordered;
    for (const auto& turn : *turns) ordered.push_back(&turn);
    const auto startOf = [](const nlohmann::json* turn) {
      const auto start = turn->find("startMs");
      return start != turn->end() && start->is_number() ? start->get<double>() : 0.0;
    };
    std::stable_sort(ordered.begin(), ordered.end(),
                     [&](const nlohmann::json* first, const nlohmann::json* second) { return startOf(first) < startOf(second); });
    std::string joined;
    bool first = true;
    for (const auto* turn : ordered) {
      const auto transcript = turn->find("transcript");
      if (transcript == turn->end() || !transcript->is_string()) continue;
      if (!first) joined.push_back(' ');
      joined += transcript->get<std::string>();
      first = false;
    }
    return joined;
  }
  if (const auto text = json.find("text"); text != json.end() && text->is_string()) return text->get<std::string>();
  return AIFailure{VessioError::decode("muse: no transcript in response")};
}

}  // namespace quillet::dictate
