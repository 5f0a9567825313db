// quillet-presence: tells the host, one JSON line per change, whether a meeting seems to be going on.
#include <QCoreApplication>

#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/linux/identity/ProcessAppIdentity.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/pulse/PulseAudioActivity.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/qt/QtTerminationSignals.h"
#include "platform/linux/x11/X11Workspace.h"
#include "quillet-presence/PresenceProgram.h"

using namespace quillet;

namespace {

// Unbuffered, so that a line is with the host as soon as it is written and nothing is pending at exit.
void writeToStandardOutput(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes.remove_prefix(std::size_t(written));
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  // Before any thread exists, so that every thread leaves SIGTERM and SIGINT to the main loop.
  platform::qt::QtTerminationSignals::blockInAllThreads();
  QCoreApplication application(argc, argv);

  platform::qt::QtMainLoop mainLoop;
  platform::qt::QtTerminationSignals terminationSignals;
  platform::posix::SystemClock clock;
  platform::identity::ProcessAppIdentity identity;
  platform::pulse::PulseAudioActivity audioActivity(identity);
  platform::x11::X11Workspace workspace(mainLoop, identity, "");

  presence::PresenceProgram program(
      presence::PresenceProgram::Services{mainLoop, clock, audioActivity, workspace, terminationSignals},
      writeToStandardOutput,
      // At once: the monitors' threads are not waited for and nothing more is written.
      [](int status) { ::_exit(status); });
  program.start();
  return mainLoop.run();
}
