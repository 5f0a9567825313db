// quillet-dictate: the background dictation agent started by the host.
#include <QCoreApplication>

#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/qt/QtTerminationSignals.h"
#include "quillet-dictate/shell/ProcessEntry.h"
#include "quillet-dictate/shell/SettingsManager.h"
#include "quillet-dictate/shell/VxLog.h"

using namespace quillet;

int main(int argc, char* argv[]) {
  // Before any thread exists, so that every thread leaves SIGTERM and SIGINT to the main loop.
  platform::qt::QtTerminationSignals::blockInAllThreads();

  // The log starts empty at each launch; emptying it first keeps this launch's own first lines.
  dictate::VxLog::shared().emptyFile();

  // An accessory agent: no window at start and no taskbar entry.
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName("quillet-dictate");
  QCoreApplication::setApplicationVersion("1.0.3");

  dictate::ProcessEntry::applyEnvironment(dictate::ProcessEntry::processEnvironment,
                                          dictate::SettingsManager::shared(), dictate::VxLog::shared());

  platform::qt::QtMainLoop mainLoop;
  platform::qt::QtTerminationSignals terminationSignals;
  // The host ends the agent with a signal; that is a normal end, not a failure.
  terminationSignals.onTermination([&mainLoop](int) { mainLoop.quit(0); });
  return mainLoop.run();
}
