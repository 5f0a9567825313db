#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/Clock.h"
#include "platform/MainLoop.h"
#include "platform/Resampler.h"
#include "platform/SpeechRecognizer.h"
#include "quillet-capture/transcription/CumulativeTranscript.h"
#include "quillet-capture/program/Deadline.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "quillet-capture/protocol/Event.h"
#include "quillet-capture/sources/Pcm16MonoConverter.h"
#include "quillet-capture/transcription/Transcriber.h"

namespace quillet::capture {

// The cumulative on-device transcriber: each "chunk" event carries the speaker's whole transcript so far
// and replaces the previous one; "start" is always 0 and "end" the time the result arrived. Kept for
// recognisers that report no time ranges; the program's own recogniser has them, so it is not chosen there.
class LegacyTranscriber final : public Transcriber, public std::enable_shared_from_this<LegacyTranscriber> {
 public:
  // After the end of the audio, results are still taken for this long, then recognition is cancelled.
  static constexpr double kStopWaitSeconds = 0.2;

  // Hands an event over without waiting; production passes it to EventWriter::emitWithoutWaiting.
  using EmitEvent = std::function<void(Event event)>;

  struct Services {
    const platform::Clock& clock;
    platform::SpeechRecognizer& recognizer;
    platform::MainLoop& mainLoop;
    platform::ResamplerFactory resamplers;
    EmitEvent emit;
    DiagnosticSink diagnostics = writeToStandardError;
    // Where a cancelled stream is released, since that waits for its decoding to stop.
    Deadline::Launcher launcher = Deadline::onDetachedThread;
  };

  LegacyTranscriber(std::chrono::nanoseconds captureStartedAt, Services services);
  ~LegacyTranscriber() override;

  // Fails with code 1 when the locale has no model, code 2 when the recogniser cannot start.
  void start(Speaker speaker, std::string locale, StartCompletion completion) override;
  void consume(const platform::AudioBuffer& buffer) override;
  // Ends the audio, waits 200 ms on the main loop for the last results, then cancels; `completion` runs there.
  void stop(StopCompletion completion) override;

 private:
  // What the recogniser's thread touches; shared with the stream's handlers so that it outlives a
  // cancelled stream still being released.
  struct Results {
    std::mutex mutex;
    CumulativeTranscript transcript;
    bool cancelled = false;
  };

  void handle(const std::optional<CumulativeTranscript::Update>& update) const;
  void cancel();

  const std::chrono::nanoseconds captureStartedAt_;
  const platform::Clock& clock_;
  platform::SpeechRecognizer& recognizer_;
  platform::MainLoop& mainLoop_;
  const EmitEvent emit_;
  const DiagnosticSink diagnostics_;
  const Deadline::Launcher launcher_;

  std::atomic<Speaker> speaker_{Speaker::you};
  Pcm16MonoConverter converter_;  // the source's thread only

  std::mutex streamMutex_;
  std::shared_ptr<platform::SpeechStream> stream_;
  std::shared_ptr<Results> results_;
};

}  // namespace quillet::capture
