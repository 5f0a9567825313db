#include "quillet-dictate/transcription/TranscriptionRouter.h"

#include <cmath>
#include <cstdio>

#include "common/text/UnicodeText.h"
#include "common/text/UuidString.h"
#include "quillet-dictate/audio/AudioStreamer.h"
#include "quillet-dictate/backend/BackendAddress.h"
#include "quillet-dictate/backend/JsonAnswer.h"
#include "quillet-dictate/transcription/MultipartBody.h"

namespace quillet::dictate {

namespace {

std::string formatted(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

std::string_view bytesAsText(const std::vector<std::uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

struct TranscriptionRouter::LocalAttempt {
  WavBytes wav;
  float rms = 0;
  int limit = 0;
  int number = 1;
  std::function<void(std::string)> completion;
};

TranscriptionRouter::TranscriptionRouter(Engines engines, WorkerPool& workers, platform::MainLoop& mainLoop,
                                         const platform::Clock& clock, SettingsManager& settings, const VxLog& log,
                                         EnvironmentLookup environment)
    : engines_(std::move(engines)),
      workers_(workers),
      mainLoop_(mainLoop),
      clock_(clock),
      settings_(settings),
      log_(log),
      environment_(std::move(environment)) {}


bool TranscriptionRouter::cloudAllowed() const {
  if (settings_.supabaseAccessToken.get().empty()) return false;
  return !museDisabledUntil_ || *museDisabledUntil_ < clock_.monotonicNow();
}

void TranscriptionRouter::transcribeChunk(WavBytes wav, double durationSec, float rms,
                                          std::function<void(ChunkTranscription)> completion) {
  auto local = [this, alive = lifetime_.watch(), wav, rms, completion]() {
    if (alive.ended()) return;
    transcribeLocal(wav, rms, [completion](std::string text) {
      completion(ChunkTranscription{text::trimmedWhitespaceAndNewlines(text), std::nullopt});
    });
  };
  if (!cloudAllowed()) {
    local();
    return;
  }
  engines_.cloud.transcribe(wav, [this, alive = lifetime_.watch(), durationSec, local,
                                  completion](AIOutcome<std::string> outcome) {
    if (alive.ended()) return;
    if (outcome.hasValue()) {
      auto& text = outcome.value();
      log_.log("☁️ muse: " + std::to_string(text::characterCount(text)) + " chars (" + formatted("%.1f", durationSec) +
               "s)");
      completion(ChunkTranscription{text::trimmedWhitespaceAndNewlines(text), std::nullopt});
      return;
    }
    museDisabledUntil_ = clock_.monotonicNow() + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                     std::chrono::duration<double>(kCloudPauseSeconds));
    log_.log("⚠️ muse unavailable (" + outcome.error().description() + ") → native for the next 10 min");
    local();
  });
}

void TranscriptionRouter::transcribeLocal(WavBytes wav, float rms, std::function<void(std::string)> completion) {
  auto attempt = std::make_shared<LocalAttempt>();
  attempt->wav = std::move(wav);
  attempt->rms = rms;
  attempt->limit = rms >= AudioStreamer::kSpeechThreshold ? kLoudChunkAttempts : kQuietChunkAttempts;
  attempt->completion = std::move(completion);
  if (engines_.onDevice) {
    attemptOnDevice(std::move(attempt));
  } else {
    askLocalServer(std::move(attempt));
  }
}

void TranscriptionRouter::attemptOnDevice(std::shared_ptr<LocalAttempt> attempt) {
  workers_.run([onDevice = engines_.onDevice, attempt, stop = workers_.stopToken()] {
                 return onDevice(*attempt->wav, kOnDeviceLocale, stop);
               },
               [this, alive = lifetime_.watch(), attempt](AIOutcome<std::string> outcome) {
                 if (alive.ended()) return;
                 const std::string count = std::to_string(attempt->number) + "/" + std::to_string(attempt->limit);
                 if (outcome.hasValue()) {
                   auto& text = outcome.value();
                   if (!text.empty()) {
                     log_.log("🍎 native SpeechAnalyzer: " + std::to_string(text::characterCount(text)) + " chars" +
                              (attempt->number >= 2
                                   ? " (recovered on attempt " + std::to_string(attempt->number) + ")"
                                   : std::string()));
                     attempt->completion(std::move(text));
                     return;
                   }
                   log_.log("⚠️ SpeechAnalyzer empty (attempt " + count + ") rms=" + formatted("%.5f", attempt->rms));
                 } else {
                   log_.log("⚠️ SpeechAnalyzer failed (attempt " + count +
                            "): " + outcome.error().description());
                 }
                 if (attempt->number < attempt->limit) {
                   ++attempt->number;
                   mainLoop_.after(kOnDeviceRetryDelaySeconds, [this, alive = lifetime_.watch(), attempt] {
                     if (!alive.ended()) attemptOnDevice(attempt);
                   });
                   return;
                 }
                 if (attempt->rms >= AudioStreamer::kSpeechThreshold) {
                   log_.log("❌ SPEECH LOST: rms=" + formatted("%.5f", attempt->rms) +
                            " had energy but SpeechAnalyzer returned empty after " +
                            std::to_string(kLoudChunkAttempts) + " tries");
                 }
                 askLocalServer(attempt);
               });
}

void TranscriptionRouter::askLocalServer(std::shared_ptr<LocalAttempt> attempt) {
  const auto finish = [this, alive = lifetime_.watch(), attempt](AIOutcome<std::string> outcome) {
    if (alive.ended()) return;
    if (outcome.hasValue()) {
      auto& text = outcome.value();
      attempt->completion(std::move(text));
      return;
    }
    if (attempt->rms < AudioStreamer::kSpeechThreshold) {
      log_.log("· silent residual, no text (rms=" + formatted("%.5f", attempt->rms) + ")");
    }
    attempt->completion(std::string());
  };
  auto request = localServerRequest(*attempt->wav);
  if (request.failed()) {
    finish(std::move(request).error());
    return;
  }
  engines_.http.start(std::move(request).value(),
                      [finish](platform::HttpResult result) { finish(localServerText(std::move(result))); });
}

AIOutcome<platform::HttpRequest> TranscriptionRouter::localServerRequest(const std::vector<std::uint8_t>& wav) const {
  const std::string port = environment_("VOICE_PORT").value_or(kDefaultVoicePort);
  auto url = BackendAddress::join("http://127.0.0.1:" + port, "/inference");
  if (url.failed()) return AIFailure{VessioError::api("bad local whisper URL")};

  MultipartBody body("ql-" + text::newUuidString());
  body.addPart({R"(Content-Disposition: form-data; name="file"; filename="audio.wav")", "Content-Type: audio/wav"},
               bytesAsText(wav));
  body.addPart({R"(Content-Disposition: form-data; name="temperature")"}, "0");
  body.addPart({R"(Content-Disposition: form-data; name="response_format")"}, "json");
  return std::move(body).postRequest(std::move(url).value(), {}, kLocalServerTimeoutSeconds);
}

AIOutcome<std::string> TranscriptionRouter::localServerText(platform::HttpResult result) {
  auto answer = answerOf(std::move(result));
  if (answer.failed()) return std::move(answer).error();
  const auto& response = answer.value();
  if (response.status != 200) {
    return AIFailure{VessioError::api("local whisper http " + std::to_string(response.status))};
  }
  auto parsed = parseJsonAnswer(response.body);
  if (parsed.failed()) return std::move(parsed).error();
  const auto& json = parsed.value();
  if (!json.is_object()) return AIFailure{VessioError::decode("local whisper: not an object")};
  const auto text = json.find("text");
  if (text == json.end() || text->is_null()) return std::string();
  if (!text->is_string()) return AIFailure{VessioError::decode("local whisper: text is not a string")};
  return text->get<std::string>();
}

ChunkTranscriber TranscriptionRouter::chunkTranscriber() {
  return [this, alive = lifetime_.watch()](const AudioStreamer::Chunk& chunk,
                                          std::function<void(AIOutcome<ChunkTranscription>)> completion) {
    if (alive.ended()) return;
    transcribeChunk(std::make_shared<const std::vector<std::uint8_t>>(chunk.wav), chunk.durationSec, chunk.rms,
                    [completion = std::move(completion)](ChunkTranscription transcription) {
                      completion(std::move(transcription));
                    });
  };
}

}  // namespace quillet::dictate
