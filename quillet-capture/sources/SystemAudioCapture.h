#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/MainLoop.h"
#include "platform/SystemAudioInput.h"
#include "quillet-capture/sources/ActivityGate.h"
#include "quillet-capture/sources/AudioActivity.h"
#include "quillet-capture/program/CaptureControl.h"
#include "quillet-capture/protocol/CaptureError.h"
#include "quillet-capture/sources/CaptureSource.h"
#include "quillet-capture/program/Deadline.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "quillet-capture/protocol/Event.h"
#include "quillet-capture/sources/SilenceWatchdog.h"
#include "quillet-capture/transcription/Transcriber.h"

namespace quillet::capture {

// The "others" side of a capture: what the meeting application plays, or, when it plays nothing we can find,
// everything the default output plays. Every buffer is measured for both activities and, unless the capture
// is paused, handed to the transcriber; the silence watchdog decides when the call is over. Lives on the
// main loop.
class SystemAudioCapture final : public CaptureSource, public std::enable_shared_from_this<SystemAudioCapture> {
 public:
  static constexpr float kSilenceRmsFloor = 0.004F;
  static constexpr double kSampleRate = 48000;
  static constexpr int kChannelCount = 2;
  static constexpr double kStopTimeoutSeconds = 5.0;

  using StopCompletion = std::function<void()>;
  // Hands an event to the host without waiting for it to be written.
  using EventSink = std::function<void(Event event)>;

  struct Services {
    platform::MainLoop& mainLoop;
    const platform::Clock& clock;
    const CaptureControl& control;
    EventSink events;
    DiagnosticSink diagnostics = writeToStandardError;
    // Where the stream's stop runs, so that a hung one cannot hold up the main loop.
    Deadline::Launcher launcher = Deadline::onDetachedThread;
  };

  // `activity` (both sides) may be null; the services' references must outlive the source.
  static std::shared_ptr<SystemAudioCapture> make(std::shared_ptr<platform::SystemAudioInput> input,
                                                  Services services, std::shared_ptr<AudioActivity> activity);

  SystemAudioCapture(const SystemAudioCapture&) = delete;
  SystemAudioCapture& operator=(const SystemAudioCapture&) = delete;

  // Starts `transcriber` as "others" in `locale`, then records the application `appBundleId` names or the
  // whole output. `completion` runs on the main loop with success or the error. Main thread.
  void start(std::shared_ptr<Transcriber> transcriber, std::string locale, std::optional<std::string> appBundleId,
             StartCompletion completion) override;

  // Stops the watchdog, the stream (abandoned after 5 s) and the transcriber, whichever exist, then
  // `completion` runs on the main loop. Main thread.
  void stop(StopCompletion completion) override;

  // Told on the main loop when the watchdog judges the call over. Set once by the owner before start.
  std::function<void()> onCallEnded;

 private:
  SystemAudioCapture(std::shared_ptr<platform::SystemAudioInput> input, Services services,
                     std::shared_ptr<AudioActivity> activity);

  void startRecording(std::optional<std::string> appBundleId, const platform::SystemAudioContent& content,
                      StartCompletion completion);
  void output(const platform::AudioBuffer& buffer);
  void streamFailed(const std::string& description);
  void stopTranscriber(StopCompletion completion);
  void setTranscriber(std::shared_ptr<Transcriber> transcriber);
  [[nodiscard]] std::shared_ptr<Transcriber> currentTranscriber() const;
  void write(const std::string& line) const;

  const std::shared_ptr<platform::SystemAudioInput> input_;
  Services services_;
  const std::shared_ptr<AudioActivity> activity_;
  const std::shared_ptr<AudioActivity> othersActivity_;
  const ActivityGate gate_;

  // Read on the input's thread for every buffer.
  mutable std::mutex transcriberMutex_;
  std::shared_ptr<Transcriber> transcriber_;

  // Main thread only.
  bool streaming_ = false;
  // Set by stop(), so that a start still under way does not begin recording afterwards.
  bool stopRequested_ = false;
  std::shared_ptr<SilenceWatchdog> watchdog_;
};

}  // namespace quillet::capture
