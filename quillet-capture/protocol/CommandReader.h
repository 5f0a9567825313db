#pragma once

#include <functional>
#include <memory>

#include "common/result/Expected.h"
#include "common/runtime/SerialQueue.h"
#include "quillet-capture/protocol/Command.h"
#include "quillet-capture/program/DiagnosticSink.h"
#include "quillet-capture/protocol/LineFramer.h"

namespace quillet::capture {

// Reads the host's commands, one JSON object per line, from standard input on its own serial
// queue, and hands each decoded command, or the reason a line is not one, to its owner. The owner
// keeps it for as long as input may come; destroying it stops the reading at once.
class CommandReader {
 public:
  static constexpr const char* kQueueLabel = "quillet.capture.stdin";

  // Both run on the reader's queue, one line at a time; they should schedule work and return.
  using CommandHandler = std::function<void(Command command)>;
  using RejectionHandler = std::function<void(const CommandRejection& rejection)>;

  CommandReader(int inputDescriptor, CommandHandler onCommand, RejectionHandler onRejection,
                DiagnosticSink diagnostics = writeToStandardError);
  // Not from one of its own handlers.
  ~CommandReader();

  CommandReader(const CommandReader&) = delete;
  CommandReader& operator=(const CommandReader&) = delete;

  // Starts reading on the queue and returns at once; later calls do nothing. Reading goes on
  // until end of input, which is noted on the diagnostics and changes nothing else. Fails only when
  // the process has no descriptors left to make the reader's stop signal with.
  [[nodiscard]] Status start();

 private:
  void readLoop();
  void handleLine(std::string_view line);

  int inputDescriptor_;
  CommandHandler onCommand_;
  RejectionHandler onRejection_;
  DiagnosticSink diagnostics_;
  LineFramer framer_;
  // Written to by the destructor to wake a read that would otherwise block forever.
  int stopReadEnd_ = -1;
  int stopWriteEnd_ = -1;
  bool started_ = false;
  // Last, so that it is destroyed (and its thread joined) while the members above still exist.
  std::unique_ptr<SerialQueue> queue_;
};

}  // namespace quillet::capture
