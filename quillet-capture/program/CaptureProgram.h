#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/TerminationSignals.h"
#include "quillet-capture/program/Capture.h"
#include "quillet-capture/pill/CapturePillPanel.h"
#include "quillet-capture/protocol/CommandReader.h"

namespace quillet::capture {

// quillet-capture as the host runs it: "ready" first, then commands from standard input turned into
// captures, the pill's stop button, and the signals that stop the capture and end the process.
class CaptureProgram {
 public:
  struct Services {
    Capture::Services capture;
    CapturePillPanel& pill;
    platform::TerminationSignals& terminationSignals;
    // The operating system's name and version as "ready" announces it.
    std::string operatingSystem;
    int inputDescriptor;
    // Ends the process with the given status once "stopped" is out.
    std::function<void(int status)> exitProcess;
  };

  explicit CaptureProgram(Services services);

  CaptureProgram(const CaptureProgram&) = delete;
  CaptureProgram& operator=(const CaptureProgram&) = delete;

  // Announces "ready" and starts reading commands; the caller then runs the main loop.
  void start();

  [[nodiscard]] Capture& capture() { return *capture_; }

 private:
  void dispatch(const Command& command);

  Services services_;
  std::shared_ptr<Capture> capture_;
  std::unique_ptr<CommandReader> reader_;
};

}  // namespace quillet::capture
