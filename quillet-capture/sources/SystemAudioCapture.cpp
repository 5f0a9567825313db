#include "quillet-capture/sources/SystemAudioCapture.h"

#include <algorithm>
#include <utility>
#include <variant>

#include "common/runtime/Weakly.h"

namespace quillet::capture {

namespace {

// The meeting application counts whether it plays now or only runs: a call often starts silent, and its
// sound is recorded as its streams come and go.
bool isPresent(const platform::SystemAudioContent& content, const std::string& bundleId) {
  const auto listed = [&bundleId](const std::vector<std::string>& identities) {
    return std::find(identities.begin(), identities.end(), bundleId) != identities.end();
  };
  return listed(content.applications) || listed(content.runningApplications);
}

}  // namespace

std::shared_ptr<SystemAudioCapture> SystemAudioCapture::make(std::shared_ptr<platform::SystemAudioInput> input,
                                                             Services services,
                                                             std::shared_ptr<AudioActivity> activity) {
  return std::shared_ptr<SystemAudioCapture>(
      new SystemAudioCapture(std::move(input), std::move(services), std::move(activity)));
}

SystemAudioCapture::SystemAudioCapture(std::shared_ptr<platform::SystemAudioInput> input, Services services,
                                       std::shared_ptr<AudioActivity> activity)
    : input_(std::move(input)),
      services_(std::move(services)),
      activity_(std::move(activity)),
      othersActivity_(std::make_shared<AudioActivity>(services_.clock)),
      gate_(services_.control, kSilenceRmsFloor) {}

void SystemAudioCapture::start(std::shared_ptr<Transcriber> transcriber, std::string locale,
                               std::optional<std::string> appBundleId, StartCompletion completion) {
  const auto content = input_->shareableContent();
  if (content.failed()) {
    completion(CaptureError::fromPlatform(content.error().description));
    return;
  }
  const auto& shareable = content.value();
  if (!shareable.hasOutput) {
    completion(CaptureError::noDisplayForSystemAudio());
    return;
  }
  setTranscriber(transcriber);
  transcriber->start(Speaker::others, std::move(locale),
                     [weakSelf = weak_from_this(), appBundleId = std::move(appBundleId), shareable,
                      completion = std::move(completion)](Expected<void, CaptureError> started) mutable {
                       auto self = weakSelf.lock();
                       if (!self) return;
                       self->services_.mainLoop.post(weakly(
                           self, [started = std::move(started), appBundleId = std::move(appBundleId),
                                  shareable = std::move(shareable),
                                  completion = std::move(completion)](SystemAudioCapture& capture) {
                             if (started.failed()) {
                               completion(started);
                             } else if (capture.stopRequested_) {
                               // Stopped while its transcriber started: nothing is recorded after all.
                               completion(CaptureError::fromPlatform("the capture stopped before its audio started"));
                             } else {
                               capture.startRecording(appBundleId, shareable, completion);
                             }
                           }));
                     });
}

void SystemAudioCapture::startRecording(std::optional<std::string> appBundleId,
                                        const platform::SystemAudioContent& content, StartCompletion completion) {
  platform::SystemAudioScope scope;
  if (appBundleId && isPresent(content, *appBundleId)) {
    scope.applicationBundleId = appBundleId;
    write("[sysaudio] scoped to app " + *appBundleId + "\n");
  } else {
    write("[sysaudio] whole-display capture (app " + appBundleId.value_or("nil") + " not found)\n");
  }

  const auto weakSelf = weak_from_this();
  auto started = input_->start(
      scope, platform::AudioFormat{kSampleRate, kChannelCount},
      [weakSelf](const platform::AudioBuffer& buffer) {
        if (auto self = weakSelf.lock()) self->output(buffer);
      },
      [weakSelf](const std::string& description) {
        if (auto self = weakSelf.lock()) self->streamFailed(description);
      });
  if (started.failed()) {
    completion(CaptureError::fromPlatform(started.error().description()));
    return;
  }
  streaming_ = true;
  if (activity_) activity_->markActive();
  othersActivity_->markActive();
  watchdog_ = SilenceWatchdog::make(services_.mainLoop, services_.control, activity_, othersActivity_,
                                    services_.diagnostics, [weakSelf] {
                                      auto self = weakSelf.lock();
                                      if (self && self->onCallEnded) self->onCallEnded();
                                    });
  watchdog_->start();
  write("[sysaudio] capture started\n");
  completion({});
}

void SystemAudioCapture::output(const platform::AudioBuffer& buffer) {
  if (!gate_.admit(buffer, {activity_.get(), othersActivity_.get()})) return;
  if (const auto transcriber = currentTranscriber()) transcriber->consume(buffer);
}

// The capture stays up: whether to end it is the host's decision.
void SystemAudioCapture::streamFailed(const std::string& description) {
  write("[sysaudio] stream stopped with error: " + description + "\n");
  if (services_.events) {
    services_.events(Event::error(ErrorCode::captureFailed, "system audio stream failed: " + description, true));
  }
}

void SystemAudioCapture::stop(StopCompletion completion) {
  stopRequested_ = true;
  if (watchdog_) std::exchange(watchdog_, nullptr)->cancel();
  if (!streaming_) {
    stopTranscriber(std::move(completion));
    return;
  }
  streaming_ = false;
  // This source writes its own line for an abandoned stream, so the deadline's is not wanted.
  const Deadline deadline(services_.mainLoop, [](std::string_view /*line*/) {}, services_.launcher);
  deadline.withDeadline(
      kStopTimeoutSeconds, "system-audio stream stop",
      [input = input_](const Deadline::Finished& finished) { input->stop(finished); },
      [self = shared_from_this(), completion = std::move(completion)](bool finishedInTime) mutable {
        self->services_.mainLoop.post([self, finishedInTime, completion = std::move(completion)]() mutable {
          if (!finishedInTime) self->write("[sysaudio] stopCapture timed out after 5s \xE2\x80\x94 abandoning stream\n");
          self->stopTranscriber(std::move(completion));
        });
      });
}

void SystemAudioCapture::stopTranscriber(StopCompletion completion) {
  const auto transcriber = currentTranscriber();
  setTranscriber(nullptr);
  if (!transcriber) {
    services_.mainLoop.post(std::move(completion));
    return;
  }
  transcriber->stop([&mainLoop = services_.mainLoop, completion = std::move(completion)]() mutable {
    mainLoop.post(std::move(completion));
  });
}

void SystemAudioCapture::setTranscriber(std::shared_ptr<Transcriber> transcriber) {
  std::lock_guard lock(transcriberMutex_);
  transcriber_ = std::move(transcriber);
}

std::shared_ptr<Transcriber> SystemAudioCapture::currentTranscriber() const {
  std::lock_guard lock(transcriberMutex_);
  return transcriber_;
}

void SystemAudioCapture::write(const std::string& line) const {
  if (services_.diagnostics) services_.diagnostics(line);
}

}  // namespace quillet::capture
