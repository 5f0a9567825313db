#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/MainLoop.h"
#include "platform/Resampler.h"
#include "platform/SpeechRecognizer.h"
#include "quillet-capture/program/Deadline.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "quillet-capture/program/EmitAndWait.h"
#include "quillet-capture/transcription/ModelInstallLock.h"
#include "quillet-capture/sources/Pcm16MonoConverter.h"
#include "quillet-capture/transcription/StreamResultPublisher.h"
#include "quillet-capture/transcription/Transcriber.h"

namespace quillet::capture {

// The streaming on-device transcriber: a source's buffers are converted to the recogniser's format and
// pushed into one speech stream; its provisional and settled results become "chunk" events placed by
// their own time ranges, measured from the first buffer handed over. One object per speaker per capture.
class ModernTranscriber final : public Transcriber, public std::enable_shared_from_this<ModernTranscriber> {
 public:
  static constexpr double kFinalizeSeconds = 5;
  static constexpr double kDrainSeconds = 3;

  struct Services {
    platform::SpeechRecognizer& recognizer;
    ModelInstallLock& installs;
    platform::MainLoop& mainLoop;
    platform::ResamplerFactory resamplers;
    EmitAndWait emit;
    DiagnosticSink diagnostics = writeToStandardError;
    // Where stream finishing and abandoned streams' release run, away from the caller.
    Deadline::Launcher launcher = Deadline::onDetachedThread;
  };

  // `captureStartedAt` is the capture's zero on the monotonic time line; results carry their own times.
  ModernTranscriber(std::chrono::nanoseconds captureStartedAt, Services services);
  ~ModernTranscriber() override;


  // Checks the locale's model (shared with the other speaker), then opens the stream.
  void start(Speaker speaker, std::string locale, StartCompletion completion) override;
  // Converts on the calling thread and queues the samples; never waits for recognition.
  void consume(const platform::AudioBuffer& buffer) override;
  // Finishes the stream within 5 s and publishes its last results within 3 s more; `completion` runs on
  // the main loop.
  void stop(StopCompletion completion) override;

  // The key of a buffer format's converter: rate, channels and sample format ("48000.0-2-1").
  [[nodiscard]] static std::string converterKey(const platform::AudioFormat& format);

  [[nodiscard]] std::chrono::nanoseconds captureStartedAt() const { return captureStartedAt_; }

 private:
  void open(const std::string& locale, StartCompletion completion);
  void drain(bool finalizedInTime, StopCompletion completion);
  void release(bool finalizedInTime);
  // The converter of `buffer`'s format, made on first need; nothing when none can be made.
  Pcm16MonoConverter* converterFor(const platform::AudioBuffer& buffer);
  void push(const std::vector<std::int16_t>& samples);
  [[nodiscard]] std::string prefix() const;

  const std::chrono::nanoseconds captureStartedAt_;
  platform::SpeechRecognizer& recognizer_;
  ModelInstallLock& installs_;
  platform::MainLoop& mainLoop_;
  const platform::ResamplerFactory resamplers_;
  const EmitAndWait emit_;
  const DiagnosticSink diagnostics_;
  const Deadline::Launcher launcher_;
  const Deadline deadline_;

  // Buffers consumed and handed to the stream; shared with the publisher, which may outlive this object.
  struct FeedCounts {
    std::atomic<int> consumed{0};
    std::atomic<int> yielded{0};
  };

  std::atomic<Speaker> speaker_{Speaker::you};
  std::map<std::string, Pcm16MonoConverter> converters_;  // the source's thread only
  const std::shared_ptr<FeedCounts> counts_ = std::make_shared<FeedCounts>();

  std::mutex streamMutex_;
  std::shared_ptr<platform::SpeechStream> stream_;
  std::shared_ptr<StreamResultPublisher> publisher_;
  bool inputOpen_ = false;
  bool stopped_ = false;  // a stream that opens after the stop is released at once
};

}  // namespace quillet::capture
