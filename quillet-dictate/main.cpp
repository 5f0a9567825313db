// quillet-dictate: the background dictation agent started by the host.
#include <QCoreApplication>

#include <algorithm>
#include <iostream>
#include <thread>

#include "common/runtime/NotificationCenter.h"
#include "common/runtime/WorkerPool.h"
#include "platform/linux/curl/CurlHttpClient.h"
#include "platform/linux/inotify/InotifyFolderWatch.h"
#include "platform/linux/pocketsphinx/PocketSphinxRecognizer.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/qt/QtMessageRouting.h"
#include "platform/linux/qt/QtTerminationSignals.h"
#include "platform/linux/sndfile/SndfileAudioFiles.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "platform/linux/sqlite/SqliteDefaultsStore.h"
#include "platform/linux/xdg/XdgPaths.h"
#include "platform/linux/xdg/XdgUrlOpener.h"
#include "quillet-dictate/backend/AuthService.h"
#include "quillet-dictate/shell/DeploymentConfig.h"
#include "quillet-dictate/shell/DictateFileJob.h"
#include "quillet-dictate/shell/DictatePrefsBridge.h"
#include "quillet-dictate/shell/ProcessEntry.h"
#include "quillet-dictate/shell/SettingsManager.h"
#include "quillet-dictate/shell/VxLog.h"
#include "quillet-dictate/transcription/MuseTranscriber.h"
#include "quillet-dictate/transcription/SpeechAnalyzerTranscriber.h"
#include "quillet-dictate/transcription/TranscriptionRouter.h"

using namespace quillet;

namespace {

// The transcription side of a dictation: the backend session, the cloud route, the on-device
// recogniser and the router in front of them.
struct TranscriptionServices {
  TranscriptionServices(platform::MainLoop& mainLoop, const platform::Clock& clock, dictate::SettingsManager& settings,
                        const dictate::VxLog& log, platform::AudioFiles& files)
      : http(mainLoop),
        workers(mainLoop, std::max(1U, std::thread::hardware_concurrency())),
        auth(http, settings),
        cloud(http, settings, auth, clock, dictate::deployment::kSpeechServiceBatchURL),
        router(dictate::TranscriptionRouter::Engines{cloud, onDeviceTranscriber(log, files), http}, workers, mainLoop, clock,
               settings, log) {}

  // The on-device route exists when a recogniser model for its locale is installed. The models'
  // folder may be moved with QUILLET_SPEECH_MODEL_ROOT (a folder without models turns the route off).
  static dictate::TranscriptionRouter::OnDeviceTranscribe onDeviceTranscriber(const dictate::VxLog& log,
                                                                              platform::AudioFiles& files) {
    // Never destroyed: a decode abandoned at exit (a model still loading) may use them until the process ends.
    static auto* recognizer = new platform::pocketsphinx::PocketSphinxRecognizer(
        platform::pocketsphinx::PocketSphinxRecognizer::modelRoot(platform::processEnvironment));
    const auto locales = recognizer->installedLocales();
    if (std::find(locales.begin(), locales.end(), dictate::TranscriptionRouter::kOnDeviceLocale) == locales.end()) {
      return {};
    }
    static auto* transcriber = new dictate::SpeechAnalyzerTranscriber(
        *recognizer, files, platform::soxr::SoxrResampler::factory(), log, platform::xdg::XdgPaths().temporaryDirectory());
    return [](const std::vector<std::uint8_t>& wav, const std::string& locale, std::stop_token stop) {
      return transcriber->transcribe(wav, locale, std::move(stop));
    };
  }

  // Requests on their own I/O thread, decodes on one thread per core; both give up what is in flight
  // when they end, so the agent exits promptly.
  platform::curl::CurlHttpClient http;
  WorkerPool workers;
  dictate::AuthService auth;
  dictate::MuseTranscriber cloud;
  dictate::TranscriptionRouter router;
};

}  // namespace

int main(int argc, char* argv[]) {
  // Before any thread exists, so that every thread leaves SIGTERM and SIGINT to the main loop.
  platform::qt::QtTerminationSignals::blockInAllThreads();

  std::vector<std::string> ignoredArguments;
  const auto arguments =
      dictate::DictateFileJob::parseArguments(std::vector<std::string>(argv + 1, argv + argc), ignoredArguments);
  if (arguments.failed()) {
    std::cerr << "quillet-dictate: " << arguments.error().description() << "\nusage: quillet-dictate [--dictate-file PATH [--realtime]]\n";
    return 64;
  }

  // The log and the settings live as long as the process: work abandoned at exit may still use them.
  static const platform::posix::SystemClock clock;
  static dictate::VxLog log(dictate::VxLog::kDefaultPath, clock);
  static platform::sqlite::SqliteDefaultsStore store(
      platform::sqlite::SqliteDefaultsStore::defaultPath(platform::xdg::XdgPaths()));
  static dictate::SettingsManager settings(store, NotificationCenter::shared());
  // Never destroyed: a decode abandoned at exit may still read its chunk through it.
  static auto* audioFiles = new platform::sndfile::SndfileAudioFiles();

  // The log starts empty at each launch; emptying it first keeps this launch's own first lines.
  log.emptyFile();
  // A host or launcher may pass arguments of its own; they do not stop the agent.
  for (const auto& argument : ignoredArguments) log.log("ignoring unknown argument: " + argument);

  // Qt's own warnings go to the log like every other line, tagged as Qt's.
  platform::qt::routeQtMessages([](std::string_view line) {
    if (line.ends_with('\n')) line.remove_suffix(1);
    log.log(std::string(line));
  });
  // An accessory agent: no window at start and no taskbar entry.
  QCoreApplication application(argc, argv);
  QCoreApplication::setApplicationName("quillet-dictate");
  QCoreApplication::setApplicationVersion("1.0.3");

  dictate::ProcessEntry::applyEnvironment(platform::processEnvironment, settings, log);

  platform::qt::QtMainLoop mainLoop;
  platform::qt::QtTerminationSignals terminationSignals;
  // The host ends the agent with a signal; that is a normal end, not a failure.
  terminationSignals.onTermination([&mainLoop](int) { mainLoop.quit(0); });

  if (const auto& options = arguments.value()) {
    TranscriptionServices services(mainLoop, clock, settings, log, *audioFiles);
    platform::xdg::XdgUrlOpener urlOpener;
    dictate::DictateFileJob job(mainLoop, clock, *audioFiles, platform::soxr::SoxrResampler::factory(),
                                services.router.chunkTranscriber(), log, urlOpener, std::cerr,
                                std::cout);
    job.run(*options, [&mainLoop](int exitStatus) { mainLoop.quit(exitStatus); });
    return mainLoop.run();
  }

  // The host's dictation preferences, read now and again after each change it makes to the file. The capsule
  // setting follows the file; the shortcut it names is read and logged.
  const platform::xdg::XdgPaths paths;
  platform::inotify::InotifyFolderWatch prefsWatch(mainLoop);
  dictate::DictatePrefsBridge prefs(paths, prefsWatch, mainLoop, log);
  prefs.onChange = [](const dictate::DictatePrefs& loaded) {
    if (settings.showCapsuleAutomatically.get() != loaded.floatingMic) {
      settings.showCapsuleAutomatically.set(loaded.floatingMic);
    }
  };
  // Watching first: a change the host makes just as the agent starts is then read, not lost between the two.
  prefs.beginWatching();
  prefs.load();
  return mainLoop.run();
}
