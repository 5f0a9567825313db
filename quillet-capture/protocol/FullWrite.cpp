#include "quillet-capture/protocol/FullWrite.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace quillet::capture {

namespace {

// Blocks SIGPIPE in the calling thread for one write, and takes back the SIGPIPE that a write
// to a closed pipe raises for this thread before the old mask is restored, so it is never delivered.
class BrokenPipeGuard {
 public:
  BrokenPipeGuard() {
    sigemptyset(&pipeSignal_);
    sigaddset(&pipeSignal_, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal_, &previousMask_);
  }

  ~BrokenPipeGuard() {
    if (pipeBroke_) {
      const timespec noWait{};
      while (sigtimedwait(&pipeSignal_, nullptr, &noWait) == -1 && errno == EINTR) {
      }
    }
    pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
  }

  BrokenPipeGuard(const BrokenPipeGuard&) = delete;
  BrokenPipeGuard& operator=(const BrokenPipeGuard&) = delete;

  void notePipeBroke() { pipeBroke_ = true; }

 private:
  sigset_t pipeSignal_{};
  sigset_t previousMask_{};
  bool pipeBroke_ = false;
};

}  // namespace

std::error_code writeFully(int descriptor, std::string_view bytes) {
  BrokenPipeGuard guard;
  while (!bytes.empty()) {
    const ssize_t count = ::write(descriptor, bytes.data(), bytes.size());
    if (count > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(count));
      continue;
    }
    // A write that accepts nothing without an error would repeat forever.
    if (count == 0) return std::make_error_code(std::errc::io_error);
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // Waits for room rather than retrying in a busy loop.
      pollfd writable{descriptor, POLLOUT, 0};
      static_cast<void>(::poll(&writable, 1, -1));
      continue;
    }
    if (errno == EPIPE) guard.notePipeBroke();
    return {errno, std::generic_category()};
  }
  return {};
}

}  // namespace quillet::capture
