#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/AudioInput.h"
#include "platform/MainLoop.h"
#include "quillet-capture/sources/ActivityGate.h"
#include "quillet-capture/sources/AudioActivity.h"
#include "quillet-capture/program/CaptureControl.h"
#include "quillet-capture/protocol/CaptureError.h"
#include "quillet-capture/sources/CaptureSource.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "quillet-capture/transcription/Transcriber.h"

namespace quillet::capture {

// The "you" side of a capture: the default microphone through the input's tap, every buffer measured for the
// shared activity and, unless the capture is paused, handed to the transcriber. When the input changes under
// it (another default microphone, a dropped stream) it restarts on the new input, trying three times 0.3 s
// apart; after that the microphone stays silent for the rest of the capture. Lives on the main loop.
class MicCapture final : public CaptureSource, public std::enable_shared_from_this<MicCapture> {
 public:
  static constexpr float kSpeechRmsFloor = 0.01F;
  static constexpr std::size_t kTapBufferFrames = 4096;
  static constexpr int kRestartAttempts = 3;
  static constexpr double kRestartRetrySeconds = 0.3;

  using StopCompletion = std::function<void()>;

  // `mainLoop` and `control` must outlive the source; `activity` may be null.
  static std::shared_ptr<MicCapture> make(std::shared_ptr<platform::AudioInput> input, platform::MainLoop& mainLoop,
                                          const CaptureControl& control, std::shared_ptr<AudioActivity> activity,
                                          DiagnosticSink diagnostics = writeToStandardError,
                                          float speechRmsFloor = kSpeechRmsFloor);

  MicCapture(const MicCapture&) = delete;
  MicCapture& operator=(const MicCapture&) = delete;

  // Asks for microphone access, starts `transcriber` as "you" in `locale`, then the input; the microphone
  // follows no application, so `appBundleId` is not used. `completion` runs on the main loop with nothing on
  // success. Main thread.
  void start(std::shared_ptr<Transcriber> transcriber, std::string locale, std::optional<std::string> appBundleId,
             StartCompletion completion) override;

  // Stops the input and the transcriber, then `completion` runs on the main loop; a source that never ran
  // completes at once and leaves its transcriber alone. Main thread.
  void stop(StopCompletion completion) override;

  [[nodiscard]] bool isRunning() const { return isRunning_; }

 private:
  MicCapture(std::shared_ptr<platform::AudioInput> input, platform::MainLoop& mainLoop, const CaptureControl& control,
             std::shared_ptr<AudioActivity> activity, DiagnosticSink diagnostics, float speechRmsFloor);

  void startTranscriber(std::string locale, StartCompletion completion);
  void startInput(StartCompletion completion);
  void installTap();
  void tapped(const platform::AudioBuffer& buffer);
  void restartInput();
  void attemptRestart(int attempt);
  void setTranscriber(std::shared_ptr<Transcriber> transcriber);
  [[nodiscard]] std::shared_ptr<Transcriber> currentTranscriber() const;
  [[nodiscard]] std::string formatText();
  void write(const std::string& line) const;

  const std::shared_ptr<platform::AudioInput> input_;
  platform::MainLoop& mainLoop_;
  const std::shared_ptr<AudioActivity> activity_;
  const ActivityGate gate_;
  const DiagnosticSink diagnostics_;

  // Read on the audio thread for every buffer.
  mutable std::mutex transcriberMutex_;
  std::shared_ptr<Transcriber> transcriber_;

  // Main thread only.
  bool isRunning_ = false;
  // Set by stop(), so that a start still under way does not open the microphone afterwards.
  bool stopRequested_ = false;
  // Between asking the transcriber to start and hearing back.
  bool transcriberStarting_ = false;
  platform::Timer restartRetry_;
};

}  // namespace quillet::capture
