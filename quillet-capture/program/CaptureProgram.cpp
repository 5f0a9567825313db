#include "quillet-capture/program/CaptureProgram.h"

namespace quillet::capture {

CaptureProgram::CaptureProgram(Services services)
    : services_(std::move(services)), capture_(Capture::make(services_.capture)) {}

void CaptureProgram::start() {
  auto& mainLoop = services_.capture.mainLoop;
  services_.pill.onStop = [this, &mainLoop] {
    services_.capture.diagnostics("[capture] user pressed Stop on the pill\n");
    mainLoop.post([this] {
      services_.pill.hide();
      capture_->stop("user-stopped");
    });
  };

  services_.capture.events.emitWithoutWaiting(
      Event::ready(services_.capture.transcribers.capabilities(services_.operatingSystem)));

  reader_ = std::make_unique<CommandReader>(
      services_.inputDescriptor,
      [this, &mainLoop](Command command) { mainLoop.post([this, command = std::move(command)] { dispatch(command); }); },
      // Through the main loop like the commands, so the host hears about its lines in the order it sent them.
      [this, &mainLoop](const CommandRejection& rejection) {
        mainLoop.post([this, rejection] { services_.capture.events.emitWithoutWaiting(Event::invalidCommand(rejection)); });
      },
      services_.capture.diagnostics);
  // Without the reader no command could ever arrive, so the program would only hang.
  if (auto reading = reader_->start(); reading.failed()) {
    services_.capture.diagnostics("[stdin] cannot read commands: " + reading.error().description() + "\n");
    services_.exitProcess(1);
    return;
  }

  services_.terminationSignals.onTermination([this](int /*signal*/) {
    services_.pill.hide();
    capture_->stop("signal", [this] { services_.exitProcess(0); });
  });
}

void CaptureProgram::dispatch(const Command& command) {
  const auto name = command.name();
  if (!name) {
    services_.capture.events.emitWithoutWaiting(Event::unknownCommand(command.cmd));
    return;
  }
  if (*name == CommandName::stop) {
    services_.pill.hide();
    capture_->stop("command");
    return;
  }
  capture_->start(Capture::StartRequest{command.meetingId, command.locale, command.appBundleId, command.stagingDir,
                                        command.startPaused});
}

}  // namespace quillet::capture
