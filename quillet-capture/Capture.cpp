#include "quillet-capture/Capture.h"

#include <utility>

namespace quillet::capture {

// What one start carries from step to step.
struct Capture::Starting {
  StartRequest request;
  std::uint64_t generation = 0;
  CaptureStart at;
  std::shared_ptr<Transcriber> forMicrophone;
  std::shared_ptr<Transcriber> forSystemAudio;
  std::function<void()> done;
};

template <typename Step>
auto Capture::onMainLoop(Step step) {
  return [weakSelf = weak_from_this(), mainLoop = &services_.mainLoop, step = std::move(step)](auto... arguments) {
    mainLoop->post([weakSelf, step, arguments...] {
      if (const auto self = weakSelf.lock()) step(*self, arguments...);
    });
  };
}

std::shared_ptr<Capture> Capture::make(Services services) {
  return std::shared_ptr<Capture>(new Capture(std::move(services)));
}

Capture::Capture(Services services) : services_(std::move(services)) {}

void Capture::emitThen(Event event, std::function<void()> next) {
  services_.events.emit(std::move(event), onMainLoop([next = std::move(next)](Capture&) {
                          if (next) next();
                        }));
}

void Capture::start(StartRequest request, std::function<void()> done) {
  if (captureStartedAt_) {
    services_.diagnostics(
        "[capture] start arrived while a previous capture is still marked running — force-resetting the stale one "
        "(RULE 6)\n");
    teardown("stale-reset", false, [this, request = std::move(request), done = std::move(done)]() mutable {
      start(std::move(request), std::move(done));
    });
    return;
  }

  services_.control.set(request.startPaused);
  auto starting = std::make_shared<Starting>();
  starting->request = std::move(request);
  starting->done = std::move(done);
  starting->at = CaptureStart{services_.clock.wallNow(), services_.clock.monotonicNow()};
  starting->generation = ++generation_;
  captureStartedAt_ = starting->at;
  emitThen(Event::started(starting->at.wall), [this, starting] { startSources(starting); });
}

void Capture::startSources(const std::shared_ptr<Starting>& starting) {
  if (!isCurrent(starting->generation)) return finishStart(starting);
  starting->forMicrophone = services_.transcribers.make(starting->at);
  starting->forSystemAudio = services_.transcribers.make(starting->at);
  const auto& staging = starting->request.stagingDir;
  if (staging && !staging->empty()) {
    starting->forMicrophone = services_.wrapInTee(starting->forMicrophone, std::filesystem::path(*staging) / "mic.wav");
    starting->forSystemAudio =
        services_.wrapInTee(starting->forSystemAudio, std::filesystem::path(*staging) / "system.wav");
  }
  const auto sources = services_.makeSources(onMainLoop([](Capture& self) {
    self.services_.pill.hide();
    self.stop("both-silent");
  }));
  micCapture_ = sources.microphone;
  sysCapture_ = sources.systemAudio;
  micCapture_->start(starting->forMicrophone, starting->request.locale, std::nullopt,
                     onMainLoop([starting](Capture& self, std::optional<CaptureError> failure) {
                       self.microphoneStarted(starting, failure);
                     }));
}

void Capture::microphoneStarted(const std::shared_ptr<Starting>& starting, const std::optional<CaptureError>& failure) {
  if (!failure) return startSystemAudio(starting);
  emitThen(Event::error(ErrorCode::permissionDenied, "mic start failed: " + failure->description(), true),
           [this, starting] { startSystemAudio(starting); });
}

void Capture::startSystemAudio(const std::shared_ptr<Starting>& starting) {
  // A stop that came while the microphone started has taken the sources; they are no longer ours to start.
  if (!isCurrent(starting->generation)) return finishStart(starting);
  sysCapture_->start(starting->forSystemAudio, starting->request.locale, starting->request.appBundleId,
                     onMainLoop([starting](Capture& self, std::optional<CaptureError> failure) {
                       self.systemAudioStarted(starting, failure);
                     }));
}

void Capture::systemAudioStarted(const std::shared_ptr<Starting>& starting, const std::optional<CaptureError>& failure) {
  if (!failure) return finishStart(starting);
  emitThen(Event::error(ErrorCode::captureFailed, "system audio start failed: " + failure->description(), false),
           [this, starting] { finishStart(starting); });
}

void Capture::finishStart(const std::shared_ptr<Starting>& starting) {
  if (isCurrent(starting->generation)) {
    services_.diagnostics("[capture] started meeting=" + starting->request.meetingId +
                          " locale=" + starting->request.locale + "\n");
    services_.pill.show();
  }
  if (starting->done) starting->done();
}

void Capture::stop(std::string reason, std::function<void()> done) { teardown(std::move(reason), true, std::move(done)); }

void Capture::teardown(std::string reason, bool emitStopped, std::function<void()> done) {
  auto microphone = std::exchange(micCapture_, nullptr);
  auto systemAudio = std::exchange(sysCapture_, nullptr);
  captureStartedAt_.reset();
  ++generation_;

  stopSource(std::move(microphone), "mic stop", "mic", reason,
             [this, systemAudio = std::move(systemAudio), reason, emitStopped, done = std::move(done)]() mutable {
               stopSource(std::move(systemAudio), "system-audio stop", "system-audio", reason,
                          [this, reason, emitStopped, done = std::move(done)] {
                            if (emitStopped) return emitThen(Event::stopped(reason), done);
                            if (done) done();
                          });
             });
}

void Capture::stopSource(std::shared_ptr<CaptureSource> source, const char* label, const char* name,
                         const std::string& reason, std::function<void()> next) {
  if (!source) return next();
  // Sources are stopped on the main thread like everything else they do; the deadline only watches.
  services_.deadline.withDeadline(
      kSourceStopSeconds, label,
      [source, mainLoop = &services_.mainLoop](const Deadline::Finished& finished) {
        mainLoop->post([source, finished] { source->stop(finished); });
      },
      onMainLoop([name = std::string(name), reason, next = std::move(next)](Capture& self, bool finishedInTime) {
        if (!finishedInTime) self.services_.diagnostics("[capture] " + name + " teardown abandoned (" + reason + ")\n");
        next();
      }));
}

}  // namespace quillet::capture
