// A whole dictation session without windows, on real parts: mousepad under openbox with its text focused, the focus
// tracker on the accessibility bus, a private sound server whose virtual microphone hears espeak-ng, the loopback
// transcription server's stand-in, the settings store in SQLite, the clipboard of the private display.
#include <QGuiApplication>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "common/runtime/NotificationCenter.h"
#include "common/runtime/WorkerPool.h"
#include "platform/fake/FakeHUDWindows.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/FakeTextLayout.h"
#include "platform/fake/FakeUrlOpener.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/curl/CurlHttpClient.h"
#include "platform/linux/identity/ProcessAppIdentity.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/qt/QtPasteboard.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "platform/linux/sqlite/SqliteDefaultsStore.h"
#include "platform/linux/x11/X11ApplicationActivation.h"
#include "platform/linux/x11/X11GlobalClickMonitor.h"
#include "platform/linux/x11/X11Workspace.h"
#include "platform/linux/x11/XTestKeySynth.h"
#include "quillet-dictate/accessibility/AccessibilityMonitor.h"
#include "quillet-dictate/accessibility/FieldGeometry.h"
#include "quillet-dictate/accessibility/TextInsertion.h"
#include "quillet-dictate/audio/AudioStreamer.h"
#include "quillet-dictate/backend/AIService.h"
#include "quillet-dictate/backend/AuthService.h"
#include "quillet-dictate/history/VoiceHistoryStore.h"
#include "quillet-dictate/hud/VoiceHUD.h"
#include "quillet-dictate/shell/SettingsManager.h"
#include "quillet-dictate/shell/VxLog.h"
#include "quillet-dictate/transcription/MuseTranscriber.h"
#include "quillet-dictate/transcription/TranscriptionRouter.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/FileContents.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/RealDesktop.h"
#include "tests/support/RunLoopUntil.h"
#include "tests/support/ShownTextArea.h"
#include "tests/support/SpokenSample.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

const std::string kFirstSentence = "the quick brown fox jumps over the lazy dog";
const std::string kSecondSentence = "seven silver swans swim slowly south";

TEST(DictationSessionDesktopTest, TwoSpokenSentencesLandInMousepadAtTheCaretAndInTheHistory) {
  test::TemporaryDirectory folder;
  const auto spoken = folder.path() / "spoken.wav";
  ASSERT_TRUE(test::makeSpokenSample(folder.path(), {kFirstSentence, kSecondSentence}, 1.2, spoken));

  // The stand-in of the loopback transcription server answers the chunks in the order they come.
  test::LoopbackHttpServer transcriptionServer;
  std::atomic<int> inferences{0};
  transcriptionServer.on("POST", "/inference", [&](const httplib::Request&, httplib::Response& response) {
    const int number = inferences++;
    response.status = 200;
    response.set_content(nlohmann::json{{"text", number == 0 ? kFirstSentence : kSecondSentence}}.dump(),
                         "application/json");
  });
  // The backend stand-in returns the transcript as it came: the session's own cleaning is what shows.
  test::LoopbackHttpServer backend;
  backend.on("POST", "/functions/v1/dictate-cleanup", [](const httplib::Request& request, httplib::Response& response) {
    response.status = 200;
    response.set_content(nlohmann::json{{"cleaned", nlohmann::json::parse(request.body).value("text", "")}}.dump(),
                         "application/json");
  });

  test::PrivatePulseServer sound;
  test::RealDesktop desk;
  desk.useInThisProcess();
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  int argc = 1;
  char name[] = "quillet_dictation_session_tests";
  char* argv[] = {name, nullptr};
  QGuiApplication application(argc, argv);

  platform::qt::QtMainLoop loop;
  platform::posix::SystemClock clock;
  test::CapturedLog captured;
  VxLog log(folder.path() / "vessio.log", clock, captured.mirror());
  platform::sqlite::SqliteDefaultsStore store(folder.path() / "defaults.sqlite");
  NotificationCenter notifications;
  SettingsManager settings(store, notifications, SettingsDefaults{backend.url(""), "anon-key-test"});

  platform::atspi::AtspiAccessibility accessibility(loop);
  platform::identity::ProcessAppIdentity identity;
  platform::x11::X11Workspace workspace(loop, identity, desk.displayName());
  platform::x11::X11GlobalClickMonitor clicks(loop, desk.displayName());
  platform::fake::FakeScreens screens;
  screens.attached = {{.frame = {0, 0, 1280, 1024}, .visibleFrame = {0, 0, 1280, 1024}}};
  platform::fake::FakeTextLayout layout;
  FieldGeometry geometry({accessibility, identity, screens, layout, nullptr, log});
  auto monitor =
      AccessibilityMonitor::create({accessibility, workspace, identity, loop, clock, screens, clicks, log, geometry});
  monitor->start();

  platform::qt::QtPasteboard clipboard;
  platform::qt::QtPasteboard primarySelection{platform::qt::QtPasteboard::Selection::primary};
  platform::x11::XTestKeySynth keys(desk.displayName());
  platform::x11::X11ApplicationActivation activation(desk.displayName());
  auto insertion = TextInsertion::create({accessibility, identity, clipboard, primarySelection, keys, activation, loop,
                                          log, [&] { return monitor->insertionTarget(); }});

  platform::curl::CurlHttpClient http(loop);
  AuthService auth(http, settings);
  AIService ai(http, settings, auth, log, clock);
  WorkerPool workers(loop, 2);
  MuseTranscriber cloud(http, settings, auth, clock, "https://speech.invalid/v1/transcribe");
  // No on-device recogniser: the local route goes to the loopback server at once.
  TranscriptionRouter router({cloud, {}, http}, workers, loop, clock, settings, log,
                             [&](std::string_view variable) -> std::optional<std::string> {
                               if (variable == "VOICE_PORT") return std::to_string(transcriptionServer.port());
                               return std::nullopt;
                             });

  platform::pulse::PulseAudioInput microphone(sound.serverAddress(), "quillet-dictate-test");
  platform::fake::FakeUrlOpener urlOpener;
  auto streamer = AudioStreamer::create(microphone, platform::soxr::SoxrResampler::factory(), loop, log, urlOpener);
  VoiceHistoryStore history(store, clock, log);
  // A session without windows: the HUD stays hidden all along, as a shortcut dictation keeps it.
  platform::fake::FakeHUDWindows windows(loop);

  auto hud = VoiceHUD::create({
      .settings = settings,
      .streamer = *streamer,
      .microphone = microphone,
      .transcriber = router.chunkTranscriber(),
      .ai = ai,
      .insertion = *insertion,
      .history = history,
      .currentTarget = [&] { return monitor->insertionTarget(); },
      .currentBundleID = [&] { return monitor->currentBundleID(); },
      .captureContext = [] { return PageContext{}; },
      .windows = {windows.window, windows.prompt, windows.keys, windows.screens, windows.mouse},
      .mainLoop = loop,
      .clock = clock,
      .log = log,
  });
  const auto runUntil = [&](const std::function<bool()>& condition, double seconds = 30) {
    return test::runLoopUntil(loop, condition, seconds);
  };

  // The user's editor, its caret after "Dear team, " and something of theirs on the clipboard.
  const auto file = folder.path() / "minutes.txt";
  std::ofstream(file) << "Dear team, \nsecond line\n";
  const auto editor = desk.launchMousepad(file);
  const auto view = test::documentViewOf(accessibility, loop, editor->processId());
  ASSERT_FALSE(view.isNone());
  ASSERT_TRUE(desk.pressKeys("ctrl+Home"));
  ASSERT_TRUE(desk.pressKeys("End"));
  ASSERT_TRUE(runUntil([&] { return monitor->insertionTarget() == InsertionTarget::field(view); }))
      << "the focus tracker never saw mousepad's text\n"
      << captured.text();
  clipboard.write(platform::PasteboardContents::withText("the user's clipboard"));

  hud->toggle();
  ASSERT_TRUE(runUntil([&] { return captured.contains("✅ START ok: mic streaming"); })) << captured.text();
  std::atomic<bool> played{false};
  std::atomic<bool> playedWell{false};
  std::thread speaker([&] {
    playedWell = sound.play(spoken);
    played = true;
  });
  runUntil([&] { return played.load(); }, 60);
  speaker.join();
  ASSERT_TRUE(playedWell) << sound.log();
  hud->toggle();

  ASSERT_TRUE(runUntil([&] { return !history.items.get().empty(); })) << captured.text();
  // Cleaned (a capital to begin with) and stitched in chunk order.
  const std::string expected = "The quick brown fox jumps over the lazy dog seven silver swans swim slowly south";
  EXPECT_EQ(inferences.load(), 2) << "one request per sentence: the pause cut the recording";
  EXPECT_EQ(history.items.get().front().text, expected);
  EXPECT_EQ(history.items.get().front().mode, "original");
  ASSERT_TRUE(desk.save(*editor, file));
  EXPECT_EQ(test::readFile(file), "Dear team, " + expected + " \nsecond line\n");
  EXPECT_TRUE(runUntil([&] { return clipboard.holdsText("the user's clipboard"); }, 5))
      << "the clipboard holds what it held before";
}

}  // namespace
}  // namespace quillet::dictate
