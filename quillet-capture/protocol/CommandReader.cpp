#include "quillet-capture/protocol/CommandReader.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

namespace quillet::capture {

namespace {

constexpr std::size_t kReadBytes = 64 * 1024;

std::string lastErrorText() { return std::generic_category().message(errno); }

}  // namespace

CommandReader::CommandReader(int inputDescriptor, CommandHandler onCommand, RejectionHandler onRejection,
                             DiagnosticSink diagnostics)
    : inputDescriptor_(inputDescriptor),
      onCommand_(std::move(onCommand)),
      onRejection_(std::move(onRejection)),
      diagnostics_(std::move(diagnostics)) {}

CommandReader::~CommandReader() {
  if (stopWriteEnd_ >= 0) static_cast<void>(::write(stopWriteEnd_, "x", 1));
  queue_.reset();
  if (stopReadEnd_ >= 0) ::close(stopReadEnd_);
  if (stopWriteEnd_ >= 0) ::close(stopWriteEnd_);
}

Status CommandReader::start() {
  if (started_) return succeeded();
  std::array<int, 2> stopPipe{};
  if (::pipe2(stopPipe.data(), O_CLOEXEC) != 0) return Error("cannot make the reader's stop pipe: " + lastErrorText());
  stopReadEnd_ = stopPipe[0];
  stopWriteEnd_ = stopPipe[1];
  started_ = true;
  queue_ = std::make_unique<SerialQueue>(kQueueLabel);
  queue_->async([this] { readLoop(); });
  return succeeded();
}

void CommandReader::readLoop() {
  std::array<char, kReadBytes> bytes{};
  for (;;) {
    std::array<pollfd, 2> waitFor{{{inputDescriptor_, POLLIN, 0}, {stopReadEnd_, POLLIN, 0}}};
    if (::poll(waitFor.data(), waitFor.size(), -1) < 0) {
      if (errno == EINTR) continue;
      diagnostics_("[stdin] wait failed: " + lastErrorText() + "\n");
      return;
    }
    if (waitFor[1].revents != 0) return;
    const ssize_t count = ::read(inputDescriptor_, bytes.data(), bytes.size());
    if (count < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      // A descriptor that keeps failing would otherwise be polled in a busy loop.
      diagnostics_("[stdin] read failed: " + lastErrorText() + "\n");
      return;
    }
    if (count == 0) {
      diagnostics_("[stdin] EOF\n");
      return;
    }
    framer_.append(
        std::string_view(bytes.data(), static_cast<std::size_t>(count)), [this](std::string_view line) { handleLine(line); },
        [this] {
          onRejection_(CommandRejection{"line longer than " + std::to_string(framer_.maximumLineBytes()) + " bytes"});
        });
  }
}

void CommandReader::handleLine(std::string_view line) {
  if (line.empty()) return;
  auto decoded = Command::decode(line);
  if (decoded.failed()) {
    onRejection_(decoded.error());
  } else {
    onCommand_(std::move(decoded).value());
  }
}

}  // namespace quillet::capture
