// The capture controller on virtual time: starts, stops, resets, failures and bounded teardowns,
// with scripted sources and a pipe standing in for the host's end of standard output.
#include "quillet-capture/program/Capture.h"
#include "quillet-capture/program/OperatingSystemName.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/fake/VirtualMainLoop.h"
#include "tests/unit/capture/CollectedLines.h"
#include "tests/unit/capture/TestPipe.h"

namespace quillet::capture {
namespace {

using nlohmann::json;

// A source whose start answers as scripted (at once, or when the test says) and whose stop may hang.
class ScriptedSource final : public CaptureSource {
 public:
  Expected<void, CaptureError> startFailure;
  bool holdStart = false;
  bool stopHangs = false;

  int starts = 0;
  int stops = 0;
  std::shared_ptr<Transcriber> transcriber;
  std::optional<std::string> appBundleId;
  std::string locale;
  StartCompletion heldStart;

  void start(std::shared_ptr<Transcriber> given, std::string givenLocale, std::optional<std::string> givenApp,
             StartCompletion completion) override {
    ++starts;
    transcriber = std::move(given);
    locale = std::move(givenLocale);
    appBundleId = std::move(givenApp);
    if (holdStart) {
      heldStart = std::move(completion);
      return;
    }
    completion(startFailure);
  }

  void stop(std::function<void()> completion) override {
    ++stops;
    if (!stopHangs) completion();
  }
};

// A transcriber that only records who it is, for checking which ones reached the sources.
class NamedTranscriber final : public Transcriber {
 public:
  explicit NamedTranscriber(std::string given) : name(std::move(given)) {}
  void start(Speaker, std::string, StartCompletion completion) override { completion({}); }
  void consume(const platform::AudioBuffer&) override {}
  void stop(StopCompletion completion) override { completion(); }
  std::string name;
};

class CountingPill final : public CapturePill {
 public:
  void show() override {
    ++shows;
    visible = true;
  }
  void hide() override {
    ++hides;
    visible = false;
  }
  int shows = 0;
  int hides = 0;
  bool visible = false;
};

// A start command with the defaults, changed by `change`.
Capture::StartRequest startRequest(const std::function<void(Capture::StartRequest&)>& change = {}) {
  Capture::StartRequest request;
  if (change) change(request);
  return request;
}

struct CaptureFixture {
  platform::fake::VirtualMainLoop loop;
  testing::TestPipe output;
  testing::CollectedLines diagnostics;
  EventWriter writer{output.writeEnd(), diagnostics.sink()};
  Deadline deadline{loop, diagnostics.sink(), [](std::function<void()> work) { work(); }};
  std::shared_ptr<CaptureControl> control = CaptureControl::make(loop);
  CountingPill pill;
  int transcribersMade = 0;
  TranscriberFactory transcribers{[](const char*) { return std::optional<std::string>(); }, numberedVariants()};
  std::vector<std::pair<std::string, std::filesystem::path>> tees;
  std::vector<std::shared_ptr<ScriptedSource>> microphones;
  std::vector<std::shared_ptr<ScriptedSource>> systemAudios;
  std::function<void()> callEnded;
  std::function<void(ScriptedSource&, ScriptedSource&)> prepareSources = [](ScriptedSource&, ScriptedSource&) {};
  std::shared_ptr<Capture> capture = Capture::make(Capture::Services{
      loop, loop, writer, deadline, *control, pill, transcribers,
      [this](std::function<void()> onCallEnded) {
        callEnded = std::move(onCallEnded);
        microphones.push_back(std::make_shared<ScriptedSource>());
        systemAudios.push_back(std::make_shared<ScriptedSource>());
        prepareSources(*microphones.back(), *systemAudios.back());
        return CaptureSources{microphones.back(), systemAudios.back()};
      },
      [this](std::shared_ptr<Transcriber> inner, std::filesystem::path file) {
        tees.emplace_back(static_cast<NamedTranscriber&>(*inner).name, file);
        return inner;
      },
      diagnostics.sink()});

  // Every transcriber made is named t1, t2, … in the order the controller asks for them.
  TranscriberFactory::Variants numberedVariants() {
    TranscriberFactory::Variants variants;
    variants.onDevice = [this](const CaptureStart&) {
      return std::make_shared<NamedTranscriber>("t" + std::to_string(++transcribersMade));
    };
    return variants;
  }

  // Runs the loop until `done` has been called, following the writer's real thread as it goes.
  void runUntilDone(const std::function<void(std::function<void()>)>& operation) {
    bool finished = false;
    operation([&finished] { finished = true; });
    ASSERT_TRUE(loop.runUntil([&] { return finished; })) << "the operation never finished";
  }

  json nextEvent() { return json::parse(output.readLine()); }
};

TEST(CaptureTest, StartRunsBothSourcesWithTheirOwnTranscribersThenShowsThePill) {
  CaptureFixture fixture;
  fixture.loop.advance(1.5);
  fixture.runUntilDone([&](auto done) {
    fixture.capture->start(startRequest([](auto& request) {
      request.meetingId = "m-1";
      request.locale = "fr-FR";
      request.appBundleId = "us.zoom.xos";
    }), done);
  });

  const json started = fixture.nextEvent();
  EXPECT_EQ(started["type"], "started");
  EXPECT_EQ(started["epochMs"].get<long long>(),
            std::chrono::duration_cast<std::chrono::milliseconds>(fixture.loop.wallNow().time_since_epoch()).count());
  ASSERT_EQ(fixture.microphones.size(), 1U);
  auto& microphone = *fixture.microphones[0];
  auto& systemAudio = *fixture.systemAudios[0];
  EXPECT_EQ(microphone.starts, 1);
  EXPECT_EQ(systemAudio.starts, 1);
  // Two transcribers of the same variant: the first for the microphone, the second for the meeting.
  EXPECT_EQ(static_cast<NamedTranscriber&>(*microphone.transcriber).name, "t1");
  EXPECT_EQ(static_cast<NamedTranscriber&>(*systemAudio.transcriber).name, "t2");
  EXPECT_EQ(microphone.locale, "fr-FR");
  EXPECT_EQ(microphone.appBundleId, std::nullopt);
  EXPECT_EQ(systemAudio.appBundleId, "us.zoom.xos");
  EXPECT_TRUE(fixture.tees.empty());
  EXPECT_TRUE(fixture.pill.visible);
  EXPECT_TRUE(fixture.capture->isRunning());
  EXPECT_EQ(fixture.diagnostics.lines().back(), "[capture] started meeting=m-1 locale=fr-FR\n");

  fixture.runUntilDone([&](auto done) { fixture.capture->stop("command", done); });
  EXPECT_EQ(fixture.nextEvent(), json::parse(R"({"type":"stopped","reason":"command"})"));
  EXPECT_EQ(microphone.stops, 1);
  EXPECT_EQ(systemAudio.stops, 1);
  EXPECT_FALSE(fixture.capture->isRunning());
}

TEST(CaptureTest, StopWithoutACaptureStillAnswersStopped) {
  CaptureFixture fixture;
  fixture.runUntilDone([&](auto done) { fixture.capture->stop("command", done); });
  EXPECT_EQ(fixture.nextEvent(), json::parse(R"({"type":"stopped","reason":"command"})"));
}

TEST(CaptureTest, SecondStartResetsTheFirstSilentlyAndTakesThePauseFlagFromTheCommand) {
  CaptureFixture fixture;
  fixture.runUntilDone([&](auto done) { fixture.capture->start(startRequest([](auto& request) { request.startPaused = true; }), done); });
  EXPECT_TRUE(fixture.control->paused());
  fixture.runUntilDone([&](auto done) { fixture.capture->start(startRequest(), done); });
  EXPECT_FALSE(fixture.control->paused());

  EXPECT_EQ(fixture.nextEvent()["type"], "started");
  // No "stopped" for the reset capture: the next event is the second "started".
  EXPECT_EQ(fixture.nextEvent()["type"], "started");
  ASSERT_EQ(fixture.microphones.size(), 2U);
  EXPECT_EQ(fixture.microphones[0]->stops, 1);
  EXPECT_EQ(fixture.systemAudios[0]->stops, 1);
  EXPECT_EQ(fixture.microphones[1]->stops, 0);
  const auto lines = fixture.diagnostics.lines();
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "[capture] start arrived while a previous capture is still marked running — force-resetting "
                      "the stale one (RULE 6)\n"),
            lines.end());
}

TEST(CaptureTest, FailedSourcesAreReportedAndTheCaptureGoesOn) {
  CaptureFixture fixture;
  fixture.prepareSources = [](ScriptedSource& microphone, ScriptedSource& systemAudio) {
    microphone.startFailure = CaptureError::fromPlatform("no input device");
    systemAudio.startFailure = CaptureError::fromPlatform("no output monitor");
  };
  fixture.runUntilDone([&](auto done) { fixture.capture->start(startRequest(), done); });
  EXPECT_EQ(fixture.nextEvent()["type"], "started");
  EXPECT_EQ(fixture.nextEvent(),
            json::parse(R"({"type":"error","code":"PERMISSION_DENIED","message":"mic start failed: no input device","fatal":true})"));
  EXPECT_EQ(fixture.nextEvent(),
            json::parse(R"({"type":"error","code":"CAPTURE_FAILED","message":"system audio start failed: no output monitor","fatal":false})"));
  EXPECT_TRUE(fixture.pill.visible);
  EXPECT_TRUE(fixture.capture->isRunning());

  // A failed source is still stopped by the teardown.
  fixture.runUntilDone([&](auto done) { fixture.capture->stop("command", done); });
  EXPECT_EQ(fixture.microphones[0]->stops, 1);
  EXPECT_EQ(fixture.systemAudios[0]->stops, 1);
}

TEST(CaptureTest, HungMicrophoneStopIsAbandonedAfterEightSecondsAndStoppedIsStillWritten) {
  CaptureFixture fixture;
  fixture.prepareSources = [](ScriptedSource& microphone, ScriptedSource&) { microphone.stopHangs = true; };
  fixture.runUntilDone([&](auto done) { fixture.capture->start(startRequest(), done); });
  ASSERT_EQ(fixture.nextEvent()["type"], "started");

  bool stopped = false;
  fixture.capture->stop("command", [&] { stopped = true; });
  fixture.loop.advance(7.9);
  EXPECT_FALSE(stopped);
  EXPECT_EQ(fixture.systemAudios[0]->stops, 0) << "the second source stops only after the first";
  fixture.loop.advance(0.1);
  ASSERT_TRUE(fixture.loop.runUntil([&] { return stopped; }));
  EXPECT_EQ(fixture.systemAudios[0]->stops, 1);
  EXPECT_EQ(fixture.nextEvent(), json::parse(R"({"type":"stopped","reason":"command"})"));
  const auto lines = fixture.diagnostics.lines();
  const auto deadlineLine = std::find(lines.begin(), lines.end(), Deadline::abandonedLine("mic stop", 8));
  ASSERT_NE(deadlineLine, lines.end());
  ASSERT_NE(deadlineLine + 1, lines.end());
  EXPECT_EQ(*(deadlineLine + 1), "[capture] mic teardown abandoned (command)\n");
}

TEST(CaptureTest, StagingFolderWrapsEachTranscriberInATeeAndAnEmptyOneDoesNot) {
  static const struct {
    const char* stagingDir;
    bool tees;
  } cases[] = {{"/tmp/staging-here", true}, {"", false}};
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.stagingDir);
    CaptureFixture fixture;
    fixture.runUntilDone([&](auto done) { fixture.capture->start(startRequest([&](auto& request) { request.stagingDir = testCase.stagingDir; }), done); });
    if (!testCase.tees) {
      EXPECT_TRUE(fixture.tees.empty());
      continue;
    }
    ASSERT_EQ(fixture.tees.size(), 2U);
    EXPECT_EQ(fixture.tees[0], std::make_pair(std::string("t1"), std::filesystem::path("/tmp/staging-here/mic.wav")));
    EXPECT_EQ(fixture.tees[1], std::make_pair(std::string("t2"), std::filesystem::path("/tmp/staging-here/system.wav")));
  }
}

TEST(CaptureTest, StopDuringAStartLeavesTheRestOfThatStartUndone) {
  CaptureFixture fixture;
  fixture.prepareSources = [](ScriptedSource& microphone, ScriptedSource&) { microphone.holdStart = true; };
  bool startDone = false;
  fixture.capture->start(startRequest(), [&] { startDone = true; });
  ASSERT_TRUE(fixture.loop.runUntil([&] { return !fixture.microphones.empty() && fixture.microphones[0]->starts == 1; }));
  fixture.runUntilDone([&](auto done) { fixture.capture->stop("command", done); });
  EXPECT_EQ(fixture.microphones[0]->stops, 1);

  // The microphone's start answers late: the stopped capture's system audio is not started after all.
  fixture.microphones[0]->heldStart({});
  ASSERT_TRUE(fixture.loop.runUntil([&] { return startDone; }));
  EXPECT_EQ(fixture.systemAudios[0]->starts, 0);
  EXPECT_FALSE(fixture.pill.visible);
  EXPECT_FALSE(fixture.capture->isRunning());
}

// Both orders a host can send commands in one write. After "stopped" nothing records and nothing more is
// said: a second stop's "stopped" is the very next event.
TEST(CaptureTest, CommandsTakeEffectInTheOrderTheyCame) {
  {
    SCOPED_TRACE("start and stop together");
    CaptureFixture fixture;
    bool stopped = false;
    fixture.capture->start(startRequest());
    fixture.capture->stop("command", [&] { stopped = true; });
    ASSERT_TRUE(fixture.loop.runUntil([&] { return stopped; }));
    EXPECT_EQ(fixture.nextEvent()["type"], "started");
    EXPECT_EQ(fixture.nextEvent(), json::parse(R"({"type":"stopped","reason":"command"})"));
    ASSERT_EQ(fixture.microphones.size(), 1U);
    EXPECT_EQ(fixture.microphones[0]->stops, 1);
    EXPECT_EQ(fixture.systemAudios[0]->stops, 1);
    EXPECT_FALSE(fixture.capture->isRunning());
    EXPECT_FALSE(fixture.pill.visible);
    fixture.runUntilDone([&](auto done) { fixture.capture->stop("again", done); });
    EXPECT_EQ(fixture.nextEvent(), json::parse(R"({"type":"stopped","reason":"again"})"));
  }
  {
    SCOPED_TRACE("a second start and a stop while the first capture's microphone takes 8 s to stop");
    CaptureFixture fixture;
    fixture.prepareSources = [&fixture](ScriptedSource& microphone, ScriptedSource&) {
      microphone.stopHangs = fixture.microphones.size() == 1;
    };
    fixture.runUntilDone([&](auto done) { fixture.capture->start(startRequest(), done); });
    bool stopped = false;
    fixture.capture->start(startRequest());
    fixture.capture->stop("command", [&] { stopped = true; });
    fixture.loop.advance(7.9);
    EXPECT_FALSE(stopped) << "stopped was answered while the first capture was still being reset";
    fixture.loop.advance(0.1);
    ASSERT_TRUE(fixture.loop.runUntil([&] { return stopped; }));
    EXPECT_FALSE(fixture.pill.visible);
    fixture.loop.advance(8);
    EXPECT_EQ(fixture.nextEvent()["type"], "started");
    EXPECT_EQ(fixture.nextEvent()["type"], "started");
    EXPECT_EQ(fixture.nextEvent(), json::parse(R"({"type":"stopped","reason":"command"})"));
    ASSERT_EQ(fixture.microphones.size(), 2U) << "a start ran after the stop";
    EXPECT_EQ(fixture.microphones[1]->stops, 1);
    EXPECT_EQ(fixture.systemAudios[1]->stops, 1);
    EXPECT_FALSE(fixture.capture->isRunning());
    fixture.runUntilDone([&](auto done) { fixture.capture->stop("again", done); });
    EXPECT_EQ(fixture.nextEvent(), json::parse(R"({"type":"stopped","reason":"again"})"));
  }
}

TEST(CaptureTest, CallEndedBySilenceHidesThePillAndStopsWithItsReason) {
  CaptureFixture fixture;
  fixture.runUntilDone([&](auto done) { fixture.capture->start(startRequest(), done); });
  ASSERT_EQ(fixture.nextEvent()["type"], "started");
  ASSERT_TRUE(fixture.callEnded);
  fixture.callEnded();
  ASSERT_TRUE(fixture.loop.runUntil([&] { return fixture.microphones[0]->stops == 1; }));
  EXPECT_EQ(fixture.nextEvent(), json::parse(R"({"type":"stopped","reason":"both-silent"})"));
  EXPECT_FALSE(fixture.pill.visible);
}

TEST(TranscriberFactoryTest, EngineVariableChoosesTheVariantAndWhatReadyAnnounces) {
  static const struct {
    std::optional<std::string> engine;
    const char* made;
    const char* transcriber;
  } cases[] = {
      {std::nullopt, "on-device", "SpeechAnalyzer"}, {"whisper", "whisper", "whisper"},
      {"WHISPER", "whisper", "whisper"},            {"Batch", "batch", "SpeechAnalyzer"},
      {"something", "on-device", "SpeechAnalyzer"}, {"", "on-device", "SpeechAnalyzer"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.engine.value_or("(unset)"));
    const auto maker = [](const char* name) {
      return [name](const CaptureStart&) { return std::make_shared<NamedTranscriber>(name); };
    };
    TranscriberFactory factory([&](const char*) { return testCase.engine; },
                               {maker("whisper"), maker("on-device"), maker("batch"),
                                [] { return std::vector<std::string>{"en-US"}; }});
    EXPECT_EQ(static_cast<NamedTranscriber&>(*factory.make({})).name, testCase.made);
    const auto capabilities = factory.capabilities("Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(capabilities.transcriber, testCase.transcriber);
    EXPECT_EQ(capabilities.supportedLocales,
              std::string(testCase.transcriber) == "whisper" ? std::vector<std::string>{"*"}
                                                             : std::vector<std::string>{"en-US"});
    EXPECT_EQ(capabilities.macOSVersion, "Debian GNU/Linux 12 (bookworm)");
  }
}

TEST(TranscriberFactoryTest, VariantMissingFromTheBuildFailsItsStartSayingWhatToDo) {
  TranscriberFactory factory([](const char*) { return std::optional<std::string>(); }, {});
  Expected<void, CaptureError> failure;
  factory.make({})->start(Speaker::you, "en-US", [&](Expected<void, CaptureError> error) { failure = error; });
  ASSERT_TRUE(failure.failed());
  EXPECT_NE(failure.error().description().find("QL_CAPTURE_ENGINE=whisper"), std::string::npos) << failure.error().description();
  EXPECT_TRUE(factory.capabilities("Linux").supportedLocales.empty()) << "no locales without a recogniser";
}

TEST(OperatingSystemNameTest, PrettyNameWithItsVersionFromOsRelease) {
  static const struct {
    const char* osRelease;
    const char* name;
  } cases[] = {
      {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"
       "VERSION=\"12 (bookworm)\"\n",
       "Debian GNU/Linux 12 (bookworm)"},
      {"NAME=Arch\\ Linux\nPRETTY_NAME='Arch Linux'\nBUILD_ID=rolling\n", "Arch Linux"},
      {"PRETTY_NAME=\"Fedora Linux\"\nVERSION_ID=40\n", "Fedora Linux 40"},
      {"# comment\nNAME=\"Say \\\"hi\\\"\"\n", "Say \"hi\""},
      {"", ""},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(operatingSystemNameFrom(testCase.osRelease), testCase.name) << testCase.osRelease;
  }
  EXPECT_FALSE(operatingSystemName("/nonexistent/os-release").empty()) << "falls back to the kernel";
}

}  // namespace
}  // namespace quillet::capture
