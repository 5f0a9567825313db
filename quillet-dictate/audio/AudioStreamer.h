#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "common/runtime/SerialQueue.h"
#include "platform/AudioInput.h"
#include "platform/MainLoop.h"
#include "platform/Resampler.h"
#include "platform/UrlOpener.h"
#include "quillet-dictate/audio/Levels.h"
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

class LevelMeter;

// What the microphone permission came to when a session was asked for.
enum class MicStatus { started, denied, notDetermined };

// The agent's microphone: one recording session at a time, mixed to mono, converted to
// 16 kHz 16-bit PCM, gated for speech and cut into WAV chunks at pauses or at 8 s.
class AudioStreamer : public std::enable_shared_from_this<AudioStreamer> {
 public:
  struct Chunk {
    std::vector<std::uint8_t> wav;  // a complete WAV file of exactly this chunk's samples
    int index = 0;                  // 0-based position in the session
    double durationSec = 0;
    float rms = 0;  // normalised RMS of the whole payload
  };

  using ChunkHandler = std::function<void(Chunk)>;
  using StatusHandler = std::function<void(MicStatus)>;
  using LevelsHandler = std::function<void(Levels)>;

  // Speech gate and cut rules.
  static constexpr float kSpeechThreshold = 0.0015f;
  static constexpr double kPauseMs = 700;
  static constexpr double kMinSpeechForPauseCutMs = 1200;
  static constexpr double kMaxChunkMs = 8000;
  static constexpr double kLeadingSilenceLimitMs = 2500;
  static constexpr std::size_t kLeadingSilenceKeptBytes = 16000;
  static constexpr std::size_t kResidualMinimumBytes = 10666;
  static constexpr std::size_t kTapBufferFrames = 4096;

  static std::shared_ptr<AudioStreamer> create(platform::AudioInput& input, platform::ResamplerFactory resamplers,
                                               platform::MainLoop& mainLoop, const VxLog& log,
                                               platform::UrlOpener& urlOpener);
  ~AudioStreamer();

  AudioStreamer(const AudioStreamer&) = delete;
  AudioStreamer& operator=(const AudioStreamer&) = delete;

  // Starts a session once the microphone permission allows it; returns at once. Main thread.
  // Chunks arrive on the audio thread (or on the caller's thread for the one cut by stop()),
  // statuses and levels on the main loop.
  void start(ChunkHandler onChunk, StatusHandler onStatus, LevelsHandler onLevels = {});
  // The same with the permission the caller has just read, so that a start asks the sound server only once.
  void start(platform::MicAuthorization authorization, ChunkHandler onChunk, StatusHandler onStatus,
             LevelsHandler onLevels = {});

  // Ends the session: the last audio is flushed as a final chunk, or dropped by the residual rules. Main thread.
  void stop();

  // Opens the desktop's sound settings, if it has any.
  void openMicSettings();

 private:
  AudioStreamer(platform::AudioInput& input, platform::ResamplerFactory resamplers, platform::MainLoop& mainLoop,
                const VxLog& log, platform::UrlOpener& urlOpener);

  void begin(ChunkHandler onChunk, LevelsHandler onLevels);
  void disableVoiceProcessing();
  void handleTap(const platform::AudioBuffer& buffer);
  void queueAnalysis(std::span<const float> samples);
  void analyze(std::vector<float> samples);
  void emitCurrentChunk(const char* reason);
  void flushResidualChunk();
  void resetDisplayGate();
  [[nodiscard]] LevelsHandler currentLevelsHandler() const;

  platform::AudioInput& input_;
  platform::ResamplerFactory resamplers_;
  platform::MainLoop& mainLoop_;
  const VxLog& log_;
  platform::UrlOpener& urlOpener_;

  // Session state: written by begin() and stop() on the main thread while no tap is installed,
  // and by the tap in between, so the tap's own ordering guards it.
  std::unique_ptr<platform::Resampler> converter_;
  ChunkHandler onChunk_;
  std::vector<std::uint8_t> pcmBuffer_;
  int segmentIndex_ = 0;
  double speechMsInChunk_ = 0;
  double silenceRunMs_ = 0;
  bool sessionActive_ = false;
  std::vector<float> mono_;
  std::vector<std::int16_t> converted_;

  // Read by the analysis thread too.
  mutable std::mutex levelsMutex_;
  LevelsHandler onLevels_;
  // Sample buffers the analysis has finished with, for the audio thread to fill again.
  static constexpr std::size_t kSpareAnalysisBuffers = 4;
  std::vector<std::vector<float>> spareAnalysisBuffers_;

  std::unique_ptr<LevelMeter> levelMeter_;  // made at the first session, kept for the process
  SerialQueue fftQueue_{"com.vantix.audio.fft"};
};

}  // namespace quillet::dictate
