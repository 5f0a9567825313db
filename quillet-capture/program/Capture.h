#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/Clock.h"
#include "platform/MainLoop.h"
#include "quillet-capture/program/CaptureControl.h"
#include "quillet-capture/pill/CapturePill.h"
#include "quillet-capture/sources/CaptureSource.h"
#include "quillet-capture/program/Deadline.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "quillet-capture/protocol/EventWriter.h"
#include "quillet-capture/transcription/TranscriberFactory.h"

namespace quillet::capture {

// One meeting capture at a time: starts both sources with their transcribers, tears them down with
// every step bounded, and tells the host "started" and "stopped". Runs on the main loop; its steps
// wait for sources and event writes, and commands take effect one at a time, in the order they came.
class Capture : public std::enable_shared_from_this<Capture> {
 public:
  struct StartRequest {
    std::string meetingId = "unknown";
    std::string locale = "en-US";
    std::optional<std::string> appBundleId;
    std::optional<std::string> stagingDir;
    bool startPaused = false;
  };

  // Wraps a transcriber so the raw audio it is given is also written to `file`.
  using TeeMaker = std::function<std::shared_ptr<Transcriber>(std::shared_ptr<Transcriber> inner,
                                                             std::filesystem::path file)>;

  struct Services {
    platform::MainLoop& mainLoop;
    const platform::Clock& clock;
    EventWriter& events;
    const Deadline& deadline;
    CaptureControl& control;
    CapturePill& pill;
    const TranscriberFactory& transcribers;
    CaptureSourcesFactory makeSources;
    TeeMaker wrapInTee;
    DiagnosticSink diagnostics;
  };

  static constexpr double kSourceStopSeconds = 8;

  static std::shared_ptr<Capture> make(Services services);

  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Starts a capture, resetting a previous one that is still marked running; never fails (failures
  // become error events). `done` runs on the main loop once every step has run.
  void start(StartRequest request, std::function<void()> done = {});

  // Ends the capture, if any, and always answers "stopped" with `reason`, after every command that came
  // before it; a start still starting its sources is cut short rather than waited for.
  void stop(std::string reason, std::function<void()> done = {});

  // Whether a capture is marked running.
  [[nodiscard]] bool isRunning() const { return captureStartedAt_.has_value(); }

 private:
  explicit Capture(Services services);

  struct Starting;
  // One start or stop: runs its steps, then calls the function it is given, once.
  using Command = std::function<void(Capture& self, std::function<void()> next)>;
  void enqueue(Command command);
  void runNextCommand();
  void beginStart(StartRequest request, std::function<void()> done);

  void teardown(std::string reason, bool emitStopped, std::function<void()> done);
  void stopSource(std::shared_ptr<CaptureSource> source, const char* label, const char* name,
                  const std::string& reason, std::function<void()> next);
  void startSources(const std::shared_ptr<Starting>& starting);
  void microphoneStarted(const std::shared_ptr<Starting>& starting, const Expected<void, CaptureError>& started);
  void startSystemAudio(const std::shared_ptr<Starting>& starting);
  void systemAudioStarted(const std::shared_ptr<Starting>& starting, const Expected<void, CaptureError>& started);
  void finishStart(const std::shared_ptr<Starting>& starting);
  // Writes `event` and continues with `next` on the main loop once it is out.
  void emitThen(Event event, std::function<void()> next);
  // A callback for any thread that runs `step` on the main loop, with its arguments, while this
  // capture still exists.
  template <typename Step>
  auto onMainLoop(Step step);
  [[nodiscard]] bool isCurrent(std::uint64_t generation) const { return generation == generation_; }

  Services services_;
  std::shared_ptr<CaptureSource> micCapture_;
  std::shared_ptr<CaptureSource> sysCapture_;
  std::optional<CaptureStart> captureStartedAt_;
  // Changes at every start and every teardown, so a start that was interrupted by a stop knows
  // that its sources are no longer its to start.
  std::uint64_t generation_ = 0;
  // Commands waiting for the one in progress.
  std::deque<Command> commands_;
  bool commandRunning_ = false;
  // The start in progress, once it has taken its start time.
  std::shared_ptr<Starting> runningStart_;
};

}  // namespace quillet::capture
