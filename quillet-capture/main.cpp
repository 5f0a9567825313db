// quillet-capture: records a meeting under JSON commands on standard input and reports JSON-line
// events on standard output; its one window is the capture pill.
#include <QApplication>

#include <unistd.h>

#include <cstdlib>
#include <memory>

#include "platform/linux/identity/ProcessAppIdentity.h"
#include "platform/linux/pocketsphinx/PocketSphinxRecognizer.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "platform/linux/pulse/PulseSystemAudioInput.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/qt/QtMessageRouting.h"
#include "platform/linux/qt/QtScreens.h"
#include "platform/linux/qt/QtTerminationSignals.h"
#include "platform/linux/sndfile/SndfileAudioFiles.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "platform/linux/sqlite/SqliteDefaultsStore.h"
#include "platform/EnvironmentLookup.h"
#include "platform/linux/xdg/XdgPaths.h"
#include "quillet-capture/sources/AudioActivity.h"
#include "quillet-capture/program/CaptureProgram.h"
#include "quillet-capture/sources/MicCapture.h"
#include "quillet-capture/transcription/OnDeviceEngine.h"
#include "quillet-capture/program/OperatingSystemName.h"
#include "quillet-capture/sources/SystemAudioCapture.h"
#include "quillet-capture/transcription/TeeTranscriber.h"
#include "quillet-capture/transcription/WhisperChunkTranscriber.h"
#include "quillet-capture/pill/views/CapturePillView.h"

using namespace quillet;
using namespace quillet::capture;

namespace {

constexpr const char* kApplicationName = "quillet-capture";

// Without a display the pill draws offscreen: the capture itself needs no window to work.
void drawOffscreenWithoutADisplay() {
  if (std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr ||
      std::getenv("QT_QPA_PLATFORM") != nullptr) {
    return;
  }
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  writeToStandardError("[capture] no display: the pill is not shown\n");
}

}  // namespace

int main(int argc, char* argv[]) {
  // Before any thread exists, so that every thread leaves SIGTERM and SIGINT to the main loop.
  platform::qt::QtTerminationSignals::blockInAllThreads();
  drawOffscreenWithoutADisplay();
  platform::qt::routeQtMessages(writeToStandardError);
  QApplication application(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);

  platform::qt::QtMainLoop mainLoop;
  platform::qt::QtTerminationSignals terminationSignals;
  platform::posix::SystemClock clock;
  platform::xdg::XdgPaths paths;
  platform::sqlite::SqliteDefaultsStore defaults(platform::sqlite::SqliteDefaultsStore::defaultPath(paths));
  platform::qt::QtScreens screens;
  platform::identity::ProcessAppIdentity identity;
  const auto sharedControl = CaptureControl::make(mainLoop);
  CaptureControl& control = *sharedControl;
  EventWriter& events = EventWriter::shared();
  const Deadline deadline(mainLoop);

  // Never destroyed: transcribers abandoned by a bounded stop may still hold its streams, and a model check
  // may still run, at exit.
  static auto* recognizer = new platform::pocketsphinx::PocketSphinxRecognizer(
      platform::pocketsphinx::PocketSphinxRecognizer::modelRoot(platform::processEnvironment),
      OnDeviceEngine::kDecoderLimit);
  static auto* installs = new ModelInstallLock(*recognizer);
  static auto* audioFiles = new platform::sndfile::SndfileAudioFiles();
  const EmitAndWait emitAndWait = [&events](Event event, std::function<void()> written) {
    events.emit(std::move(event), std::move(written));
  };
  const std::filesystem::path temporaryDirectory = paths.temporaryDirectory();
  TranscriberFactory::Variants variants{
      .whisper =
          [&clock, &events, temporaryDirectory](const CaptureStart& start) -> std::shared_ptr<Transcriber> {
        return std::make_shared<WhisperChunkTranscriber>(
            start.monotonic,
            WhisperChunkTranscriber::Services{clock, platform::soxr::SoxrResampler::factory(),
                                              platform::processEnvironment, temporaryDirectory,
                                              [&events](Event event) { events.emitWithoutWaiting(std::move(event)); }});
      },
      .onDevice = {},
      .batch = {},
      .onDeviceLocales = {}};
  OnDeviceEngine::addTo(variants, OnDeviceEngine::Services{*recognizer, *installs, mainLoop, clock,
                                                           platform::soxr::SoxrResampler::factory(), emitAndWait});
  const TranscriberFactory transcribers(platform::processEnvironment, std::move(variants));

  // The pill exists, hidden, before the first command is read, so it hears every change of the pause flag.
  CapturePillView pillView(screens);
  CapturePillPanel pill(CapturePillPanel::Services{mainLoop, screens, defaults, control}, pillView);
  pillView.attach(pill);

  const CaptureSourcesFactory makeSources = [&](std::function<void()> onCallEnded) {
    auto activity = std::make_shared<capture::AudioActivity>(clock);
    auto microphone = MicCapture::make(std::make_shared<platform::pulse::PulseAudioInput>("", kApplicationName),
                                       mainLoop, control, activity);
    auto systemAudio = SystemAudioCapture::make(
        std::make_shared<platform::pulse::PulseSystemAudioInput>(identity, "", kApplicationName),
        SystemAudioCapture::Services{mainLoop, clock, control,
                                     [&events](Event event) { events.emitWithoutWaiting(std::move(event)); }},
        activity);
    systemAudio->onCallEnded = std::move(onCallEnded);
    return CaptureSources{microphone, systemAudio};
  };

  CaptureProgram program(CaptureProgram::Services{
      Capture::Services{mainLoop, clock, events, deadline, control, pill, transcribers, makeSources,
                        [](std::shared_ptr<Transcriber> inner, std::filesystem::path file) -> std::shared_ptr<Transcriber> {
                          return TeeTranscriber::make(std::move(inner), std::move(file), *audioFiles,
                                                      platform::soxr::SoxrResampler::factory());
                        },
                        writeToStandardError},
      pill, terminationSignals, operatingSystemName(), STDIN_FILENO,
      // "stopped" is out by then; the audio threads are not waited for.
      [](int status) { ::_exit(status); }});
  program.start();
  return mainLoop.run();
}
