#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <optional>
#include <string>
#include <vector>

#include "common/runtime/Weakly.h"
#include "common/runtime/WorkerPool.h"
#include "platform/Clock.h"
#include "platform/EnvironmentLookup.h"
#include "platform/HttpClient.h"
#include "platform/MainLoop.h"
#include "quillet-dictate/backend/AIFailure.h"
#include "quillet-dictate/shell/SettingsManager.h"
#include "quillet-dictate/shell/VxLog.h"
#include "quillet-dictate/transcription/ChunkTranscription.h"
#include "quillet-dictate/transcription/MuseTranscriber.h"

namespace quillet::dictate {

// Picks the engine for each chunk: the cloud route while there is a session and it has not failed in
// the last ten minutes, else the on-device recogniser with retries and then the loopback transcription
// server. It never fails: the worst outcome is an empty text.
class TranscriptionRouter {
 public:
  using WavBytes = MuseTranscriber::WavBytes;
  // Transcribes one WAV chunk on the device, blocking; run on a worker, and given up when `stop` is requested.
  using OnDeviceTranscribe = std::function<AIOutcome<std::string>(const std::vector<std::uint8_t>& wav,
                                                                  const std::string& locale, std::stop_token stop)>;
  using EnvironmentLookup = platform::EnvironmentLookup;

  static constexpr double kCloudPauseSeconds = 600;
  static constexpr double kOnDeviceRetryDelaySeconds = 0.12;
  static constexpr double kLocalServerTimeoutSeconds = 30;
  static constexpr int kLoudChunkAttempts = 5;
  static constexpr int kQuietChunkAttempts = 2;
  static constexpr const char* kOnDeviceLocale = "en-US";
  static constexpr const char* kDefaultVoicePort = "8910";

  struct Engines {
    MuseTranscriber& cloud;
    // Empty when this machine has no on-device recogniser.
    OnDeviceTranscribe onDevice;
    platform::HttpClient& http;
  };

  TranscriptionRouter(Engines engines, WorkerPool& workers, platform::MainLoop& mainLoop, const platform::Clock& clock,
                      SettingsManager& settings, const VxLog& log,
                      EnvironmentLookup environment = platform::processEnvironment);

  TranscriptionRouter(const TranscriptionRouter&) = delete;
  TranscriptionRouter& operator=(const TranscriptionRouter&) = delete;

  // The chunk's text, trimmed; the completion runs on the main loop.
  void transcribeChunk(WavBytes wav, double durationSec, float rms, std::function<void(ChunkTranscription)> completion);

  // The local route: on-device attempts 120 ms apart (five for a chunk with speech energy, two for a
  // quiet one), then the loopback server; an empty text when both give nothing.
  void transcribeLocal(WavBytes wav, float rms, std::function<void(std::string)> completion);

  // This router as the chunked client's transcriber.
  [[nodiscard]] ChunkTranscriber chunkTranscriber();


 private:
  struct LocalAttempt;

  [[nodiscard]] bool cloudAllowed() const;
  void attemptOnDevice(std::shared_ptr<LocalAttempt> attempt);
  void askLocalServer(std::shared_ptr<LocalAttempt> attempt);
  // The request to the loopback transcription server, and the text in its answer.
  [[nodiscard]] AIOutcome<platform::HttpRequest> localServerRequest(const std::vector<std::uint8_t>& wav) const;
  static AIOutcome<std::string> localServerText(platform::HttpResult result);

  Engines engines_;
  WorkerPool& workers_;
  platform::MainLoop& mainLoop_;
  const platform::Clock& clock_;
  SettingsManager& settings_;
  const VxLog& log_;
  EnvironmentLookup environment_;

  std::optional<std::chrono::nanoseconds> museDisabledUntil_;
  // Last, so that callbacks still in flight see this object end before any of its members do.
  Lifetime lifetime_;
};

}  // namespace quillet::dictate
