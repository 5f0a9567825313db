#include "quillet-capture/sources/MicCapture.h"

#include <utility>

#include "common/runtime/Weakly.h"
#include "quillet-capture/sources/SampleRateText.h"

namespace quillet::capture {

std::shared_ptr<MicCapture> MicCapture::make(std::shared_ptr<platform::AudioInput> input, platform::MainLoop& mainLoop,
                                             const CaptureControl& control, std::shared_ptr<AudioActivity> activity,
                                             DiagnosticSink diagnostics, float speechRmsFloor) {
  return std::shared_ptr<MicCapture>(new MicCapture(std::move(input), mainLoop, control, std::move(activity),
                                                    std::move(diagnostics), speechRmsFloor));
}

MicCapture::MicCapture(std::shared_ptr<platform::AudioInput> input, platform::MainLoop& mainLoop,
                       const CaptureControl& control, std::shared_ptr<AudioActivity> activity,
                       DiagnosticSink diagnostics, float speechRmsFloor)
    : input_(std::move(input)),
      mainLoop_(mainLoop),
      activity_(std::move(activity)),
      gate_(control, speechRmsFloor),
      diagnostics_(std::move(diagnostics)) {}

void MicCapture::start(std::shared_ptr<Transcriber> transcriber, std::string locale,
                       std::optional<std::string> /*appBundleId*/, StartCompletion completion) {
  setTranscriber(std::move(transcriber));
  input_->requestAccess([weakSelf = weak_from_this(), locale = std::move(locale),
                         completion = std::move(completion)](bool granted) mutable {
    auto self = weakSelf.lock();
    if (!self) return;
    self->mainLoop_.post(weakly(self, [granted, locale = std::move(locale),
                                       completion = std::move(completion)](MicCapture& mic) {
      if (!granted) {
        completion(CaptureError::microphoneAccessDenied());
        return;
      }
      mic.startTranscriber(locale, completion);
    }));
  });
}

void MicCapture::startTranscriber(std::string locale, StartCompletion completion) {
  const auto transcriber = currentTranscriber();
  if (!transcriber) return;
  transcriberStarting_ = true;
  transcriber->start(Speaker::you, std::move(locale),
                     [weakSelf = weak_from_this(), completion = std::move(completion)](
                         Expected<void, CaptureError> started) mutable {
                       auto self = weakSelf.lock();
                       if (!self) return;
                       self->mainLoop_.post(weakly(self, [started = std::move(started), completion = std::move(
                                                              completion)](MicCapture& mic) {
                         mic.transcriberStarting_ = false;
                         if (started.failed()) {
                           completion(started);
                         } else if (mic.stopRequested_) {
                           // Stopped while its transcriber started: the microphone is never opened.
                           completion(CaptureError::fromPlatform("the capture stopped before the microphone started"));
                         } else {
                           mic.startInput(completion);
                         }
                       }));
                     });
}

void MicCapture::startInput(StartCompletion completion) {
  write("[mic] format=" + formatText() + "\n");
  installTap();
  // Registered before the start, so a change in the first moments is not missed; the restart runs on the
  // main loop, after this start has finished.
  input_->setConfigurationChangeHandler([weakSelf = weak_from_this()] {
    if (auto self = weakSelf.lock()) self->mainLoop_.post(weakly(self, [](MicCapture& mic) { mic.restartInput(); }));
  });
  if (auto started = input_->start(); started.failed()) {
    // A failed start leaves no transcriber running that no stop would ever end.
    input_->setConfigurationChangeHandler(nullptr);
    input_->removeTap();
    const auto transcriber = currentTranscriber();
    setTranscriber(nullptr);
    transcriber->stop([weakSelf = weak_from_this(), error = started.error().description(),
                       completion = std::move(completion)]() mutable {
      if (auto self = weakSelf.lock()) {
        self->mainLoop_.post([error = std::move(error), completion = std::move(completion)] {
          completion(CaptureError::fromPlatform(error));
        });
      }
    });
    return;
  }
  isRunning_ = true;
  completion({});
}

void MicCapture::stop(StopCompletion completion) {
  stopRequested_ = true;
  const bool transcriberActive = isRunning_ || transcriberStarting_;
  if (isRunning_) {
    isRunning_ = false;
    input_->setConfigurationChangeHandler(nullptr);
    restartRetry_.cancel();
    input_->removeTap();
    input_->stop();
  }
  // A start still under way ends here too: a transcriber that is starting stops now, and the input never
  // opens. One that never started, or failed to, has nothing to stop.
  const auto transcriber = currentTranscriber();
  setTranscriber(nullptr);
  if (!transcriber || !transcriberActive) return completion();
  transcriber->stop([&mainLoop = mainLoop_, completion = std::move(completion)]() mutable {
    mainLoop.post(std::move(completion));
  });
}

void MicCapture::installTap() {
  input_->installTap(kTapBufferFrames, [weakSelf = weak_from_this()](const platform::AudioBuffer& buffer) {
    if (auto self = weakSelf.lock()) self->tapped(buffer);
  });
}

void MicCapture::tapped(const platform::AudioBuffer& buffer) {
  const auto transcriber = currentTranscriber();
  if (!transcriber) return;
  if (!gate_.admit(buffer, {activity_.get()})) return;
  transcriber->consume(buffer);
}

void MicCapture::restartInput() {
  if (!isRunning_) return;
  restartRetry_.cancel();
  input_->removeTap();
  write("[mic] config change \xE2\x80\x94 restarting engine, format=" + formatText() + "\n");
  installTap();
  attemptRestart(1);
}

// Retries wait on the main loop rather than block a thread, so a stop in between cancels them.
void MicCapture::attemptRestart(int attempt) {
  if (!isRunning_) return;
  const auto started = input_->start();
  if (started.hasValue()) {
    write("[mic] engine restarted after config change (attempt " + std::to_string(attempt) + ")\n");
    return;
  }
  write("[mic] engine restart attempt " + std::to_string(attempt) + " failed: " + started.error().description() + "\n");
  if (attempt < kRestartAttempts) {
    restartRetry_ = mainLoop_.after(kRestartRetrySeconds, weakly(shared_from_this(), [attempt](MicCapture& mic) {
      mic.attemptRestart(attempt + 1);
    }));
    return;
  }
  write("[mic] engine restart FAILED after " + std::to_string(kRestartAttempts) +
        " attempts \xE2\x80\x94 mic stream is down\n");
}

void MicCapture::setTranscriber(std::shared_ptr<Transcriber> transcriber) {
  std::lock_guard lock(transcriberMutex_);
  transcriber_ = std::move(transcriber);
}

std::shared_ptr<Transcriber> MicCapture::currentTranscriber() const {
  std::lock_guard lock(transcriberMutex_);
  return transcriber_;
}

std::string MicCapture::formatText() {
  const auto format = input_->hardwareFormat();
  const platform::AudioFormat known = format.value_or(platform::AudioFormat{});
  return sampleRateText(known.sampleRate) + "Hz " + std::to_string(known.channelCount) + "ch";
}

void MicCapture::write(const std::string& line) const {
  if (diagnostics_) diagnostics_(line);
}

}  // namespace quillet::capture
