#include "quillet-capture/program/Capture.h"

#include <utility>

namespace quillet::capture {

// What one start carries from step to step.
struct Capture::Starting {
  StartRequest request;
  std::uint64_t generation = 0;
  CaptureStart at;
  std::shared_ptr<Transcriber> forMicrophone;
  std::shared_ptr<Transcriber> forSystemAudio;
  // Runs once, when the start has done all it will do or a stop has cut it short.
  std::function<void()> done;
  // Set once the sources are starting: from then on a stop need not wait for the start to finish.
  bool startingSources = false;
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

// Commands take effect one after another, in the order they came: a start or stop waits until the one
// before it has finished. Only a stop may cut into a start, once its sources are starting, since a source's
// start may take long and the host must not wait for it to hear "stopped".
void Capture::start(StartRequest request, std::function<void()> done) {
  enqueue([request = std::move(request), done = std::move(done)](Capture& self, std::function<void()> next) mutable {
    self.beginStart(std::move(request), [done = std::move(done), next = std::move(next)] {
      if (done) done();
      next();
    });
  });
}

void Capture::stop(std::string reason, std::function<void()> done) {
  if (runningStart_ && runningStart_->startingSources) {
    // What that start still has to do is skipped; its sources are ours to stop.
    ++generation_;
    finishStart(runningStart_);
  }
  enqueue([reason = std::move(reason), done = std::move(done)](Capture& self, std::function<void()> next) mutable {
    self.teardown(reason, true, [done = std::move(done), next = std::move(next)] {
      if (done) done();
      next();
    });
  });
}

void Capture::enqueue(Command command) {
  commands_.push_back(std::move(command));
  if (!commandRunning_) runNextCommand();
}

void Capture::runNextCommand() {
  commandRunning_ = !commands_.empty();
  if (!commandRunning_) return;
  auto command = std::move(commands_.front());
  commands_.pop_front();
  // The next command starts from the main loop, not from inside the last step of this one.
  command(*this, onMainLoop([](Capture& self) { self.runNextCommand(); }));
}

void Capture::beginStart(StartRequest request, std::function<void()> done) {
  if (captureStartedAt_) {
    services_.diagnostics(
        "[capture] start arrived while a previous capture is still marked running — force-resetting the stale one "
        "(RULE 6)\n");
    teardown("stale-reset", false, [this, request = std::move(request), done = std::move(done)]() mutable {
      beginStart(std::move(request), std::move(done));
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
  runningStart_ = starting;
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
  starting->startingSources = true;
  micCapture_->start(starting->forMicrophone, starting->request.locale, std::nullopt,
                     onMainLoop([starting](Capture& self, Expected<void, CaptureError> started) {
                       self.microphoneStarted(starting, started);
                     }));
}

void Capture::microphoneStarted(const std::shared_ptr<Starting>& starting, const Expected<void, CaptureError>& started) {
  // After a stop, the host has heard "stopped": nothing more of this start may reach it.
  if (started.hasValue() || !isCurrent(starting->generation)) return startSystemAudio(starting);
  emitThen(Event::error(ErrorCode::permissionDenied, "mic start failed: " + started.error().description(), true),
           [this, starting] { startSystemAudio(starting); });
}

void Capture::startSystemAudio(const std::shared_ptr<Starting>& starting) {
  // A stop that came while the microphone started has taken the sources; they are no longer ours to start.
  if (!isCurrent(starting->generation)) return finishStart(starting);
  sysCapture_->start(starting->forSystemAudio, starting->request.locale, starting->request.appBundleId,
                     onMainLoop([starting](Capture& self, Expected<void, CaptureError> started) {
                       self.systemAudioStarted(starting, started);
                     }));
}

void Capture::systemAudioStarted(const std::shared_ptr<Starting>& starting, const Expected<void, CaptureError>& started) {
  if (started.hasValue() || !isCurrent(starting->generation)) return finishStart(starting);
  emitThen(Event::error(ErrorCode::captureFailed, "system audio start failed: " + started.error().description(), false),
           [this, starting] { finishStart(starting); });
}

void Capture::finishStart(const std::shared_ptr<Starting>& starting) {
  if (!starting->done) return;
  if (isCurrent(starting->generation)) {
    services_.diagnostics("[capture] started meeting=" + starting->request.meetingId +
                          " locale=" + starting->request.locale + "\n");
    services_.pill.show();
  }
  auto done = std::exchange(starting->done, nullptr);
  // `starting` may be this very member: it is only cleared once nothing more is read through it.
  if (runningStart_ == starting) runningStart_.reset();
  done();
}

void Capture::teardown(std::string reason, bool emitStopped, std::function<void()> done) {
  auto microphone = std::exchange(micCapture_, nullptr);
  auto systemAudio = std::exchange(sysCapture_, nullptr);
  captureStartedAt_.reset();
  ++generation_;

  stopSource(std::move(microphone), "mic stop", "mic", reason,
             [this, systemAudio = std::move(systemAudio), reason, emitStopped, done = std::move(done)]() mutable {
               stopSource(std::move(systemAudio), "system-audio stop", "system-audio", reason,
                          [this, reason, emitStopped, done = std::move(done)] {
                            // A start that ran before this stop may have shown the pill after the stop hid it.
                            if (emitStopped) {
                              services_.pill.hide();
                              return emitThen(Event::stopped(reason), done);
                            }
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
