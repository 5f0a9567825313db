// Starts the real quillet-capture as the host does: commands on its standard input, events read
// from its standard output, a private sound server for the microphone and the meeting's audio.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <sndfile.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/JsonLines.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/SpokenSample.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::ChildProcess;
using test::PrivatePulseServer;

// The capture program with its own home, temporary folder and sound server; no display, so the pill
// draws offscreen.
class CaptureProcess {
 public:
  CaptureProcess(const PrivatePulseServer& server, const fs::path& home, const std::string& engine = "whisper",
                 ChildProcess::Environment extra = {}) {
    fs::create_directories(home / "tmp");
    fs::create_directories(home / "runtime");
    ChildProcess::Environment environment{{"PULSE_SERVER", server.serverAddress()},
                                  {"HOME", home.string()},
                                  {"XDG_CONFIG_HOME", (home / "config").string()},
                                  {"XDG_RUNTIME_DIR", (home / "runtime").string()},
                                  {"TMPDIR", (home / "tmp").string()},
                                  {"QT_QPA_PLATFORM", "offscreen"},
                                  {"QL_CAPTURE_ENGINE", engine},
                                  // Short pauses cut the spoken sentences into pieces of their own.
                                  {"QL_VAD_SILENCE_MS", "400"},
                                  {"QL_VAD_MIN_SPEECH_MS", "500"}};
    environment.insert(extra.begin(), extra.end());
    process_ = std::make_unique<ChildProcess>(
        QUILLET_CAPTURE_BINARY, std::vector<std::string>{}, std::move(environment),
        std::vector<std::string>{"DISPLAY", "WAYLAND_DISPLAY", "PULSE_SINK", "PULSE_SOURCE", "DBUS_SESSION_BUS_ADDRESS"},
        ChildProcess::StandardOutput::separate, ChildProcess::StandardInput::piped);
  }

  bool send(const std::string& line) { return process_->writeStandardInput(line + "\n"); }

  std::vector<std::string> lines() { return reader_.lines(); }

  std::optional<json> waitFor(std::size_t after, const std::function<bool(const json&)>& wanted,
                              std::chrono::seconds patience = std::chrono::seconds(30)) {
    return reader_.waitFor(after, wanted, patience);
  }

  std::optional<json> waitForType(std::size_t after, const std::string& type) {
    return waitFor(after, [&type](const json& line) { return line["type"] == type; });
  }

  ChildProcess& process() { return *process_; }

  [[nodiscard]] std::string diagnostics() {
    process_->waitForStandardError(std::string(1, '\0'), std::chrono::milliseconds(10));
    return process_->standardErrorText();
  }

 private:
  std::unique_ptr<ChildProcess> process_;
  test::JsonLineReader reader_{
      [this] { process_->waitForStandardOutput(std::string(1, '\0'), std::chrono::milliseconds(50)); },
      [this]() -> const std::string& { return process_->standardOutputText(); }};
};

struct SoundFile {
  int sampleRate = 0;
  int channels = 0;
  sf_count_t frames = 0;
  double peak = 0;
  // Where the sound starts: its first sample above a quiet floor, in seconds; -1 for silence throughout.
  double onsetSeconds = -1;
};

SoundFile readSoundFile(const fs::path& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return {};
  std::vector<short> samples(std::size_t(info.frames * info.channels));
  sf_readf_short(file, samples.data(), info.frames);
  sf_close(file);
  double peak = 0;
  for (const short sample : samples) peak = std::max(peak, std::abs(double(sample)) / 32768.0);
  double onset = -1;
  const auto loud = std::find_if(samples.begin(), samples.end(), [](short sample) { return std::abs(int(sample)) > 1000; });
  if (loud != samples.end()) onset = double(std::size_t(loud - samples.begin()) / std::size_t(info.channels)) / info.samplerate;
  return {info.samplerate, info.channels, info.frames, peak, onset};
}

fs::path spokenSample(const fs::path& folder, const std::string& name, const std::vector<std::string>& sentences) {
  const fs::path sample = folder / name;
  if (!test::makeSpokenSample(folder, sentences, 1.0, sample)) throw std::runtime_error("espeak-ng or sox failed");
  return sample;
}

TEST(CaptureHostTest, MeetingSpeechOnBothSidesBecomesAudioFilesAndStagingRecordings) {
  test::TemporaryDirectory home;
  const fs::path you = spokenSample(home.path(), "you.wav", {"Good morning everyone.", "Let us begin the review."});
  const fs::path others = spokenSample(home.path(), "others.wav", {"Thanks for joining the call today."});
  PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::absent);
  CaptureProcess capture(server, home.path());

  const auto lines = capture.lines();
  const auto ready = capture.waitForType(0, "ready");
  ASSERT_TRUE(ready) << capture.diagnostics();
  EXPECT_EQ(json::parse(capture.lines().front())["type"], "ready") << "ready must come first";
  EXPECT_EQ((*ready)["capabilities"]["transcriber"], "whisper");
  EXPECT_EQ((*ready)["capabilities"]["supportedLocales"], json::array({"*"}));
  EXPECT_FALSE((*ready)["capabilities"]["macOSVersion"].get<std::string>().empty());

  const fs::path staging = home.path() / "staging";
  ASSERT_TRUE(capture.send(json{{"cmd", "start"}, {"meetingId", "weekly"}, {"stagingDir", staging.string()}}.dump()));
  ASSERT_TRUE(capture.waitForType(1, "started")) << capture.diagnostics();
  // Both sides must be listening before anyone speaks.
  ASSERT_TRUE(capture.process().waitForStandardError("[capture] started meeting=weekly")) << capture.diagnostics();

  std::thread speaker([&] { server.playOnSpeaker(others); });
  ASSERT_TRUE(server.play(you)) << server.log();
  speaker.join();

  for (const char* side : {"you", "others"}) {
    SCOPED_TRACE(side);
    const auto audio = capture.waitFor(0, [side](const json& line) { return line["type"] == "audio" && line["speaker"] == side; });
    ASSERT_TRUE(audio) << capture.diagnostics();
    const fs::path wav = (*audio)["wavPath"].get<std::string>();
    EXPECT_TRUE(wav.is_absolute());
    const SoundFile file = readSoundFile(wav);
    EXPECT_EQ(file.sampleRate, 16000);
    EXPECT_EQ(file.channels, 1);
    EXPECT_GT(file.peak, 0.05) << "the file holds no speech";
    EXPECT_LT((*audio)["start"].get<long long>(), (*audio)["end"].get<long long>());
  }

  const std::size_t beforeStop = capture.lines().size();
  ASSERT_TRUE(capture.send(R"({"cmd":"stop"})"));
  const auto stopped = capture.waitForType(beforeStop, "stopped");
  ASSERT_TRUE(stopped) << capture.diagnostics();
  EXPECT_EQ((*stopped)["reason"], "command");
  // The staging recordings hold the whole of each side: at least the speech that was played.
  const SoundFile mic = readSoundFile(staging / "mic.wav");
  const SoundFile system = readSoundFile(staging / "system.wav");
  EXPECT_EQ(mic.sampleRate, 16000);
  EXPECT_GT(double(mic.frames) / 16000, 3.0);
  EXPECT_GT(mic.peak, 0.05);
  EXPECT_GT(double(system.frames) / 16000, 2.0);
  EXPECT_GT(system.peak, 0.05);
}

TEST(CaptureHostTest, BadLinesAreAnsweredOneByOneAndRestartsAndEndOfInputAreHandledAsAHostExpects) {
  test::TemporaryDirectory home;
  PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::absent);
  CaptureProcess capture(server, home.path());
  ASSERT_TRUE(capture.waitForType(0, "ready")) << capture.diagnostics();

  for (const char* bad : {"not json", R"({"cmd":42})", R"({"cmd":"dance"})", "[1,2]"}) {
    ASSERT_TRUE(capture.send(bad));
  }
  ASSERT_TRUE(capture.send(R"({"cmd":"start"})"));
  ASSERT_TRUE(capture.waitForType(1, "started")) << capture.diagnostics();
  auto lines = capture.lines();
  std::vector<json> errors;
  for (const auto& line : lines) {
    const auto event = json::parse(line);
    if (event["type"] == "error") errors.push_back(event);
  }
  ASSERT_EQ(errors.size(), 4U) << capture.process().standardOutputText();
  EXPECT_EQ(errors[0]["code"], "INVALID_COMMAND");
  EXPECT_EQ(errors[2]["message"], "unknown command: dance");
  for (const auto& error : errors) EXPECT_EQ(error["fatal"], false);

  // A second start without a stop resets the first without "stopped".
  const std::size_t beforeRestart = capture.lines().size();
  ASSERT_TRUE(capture.send(R"({"cmd":"start","startPaused":true})"));
  const auto restarted = capture.waitForType(beforeRestart, "started");
  ASSERT_TRUE(restarted) << capture.diagnostics();
  for (std::size_t index = beforeRestart; index < capture.lines().size(); ++index) {
    EXPECT_NE(json::parse(capture.lines()[index])["type"], "stopped");
  }
  EXPECT_NE(capture.diagnostics().find("force-resetting the stale one"), std::string::npos);

  // The host's end of standard input going away does not end the process.
  capture.process().closeStandardInput();
  EXPECT_TRUE(capture.process().waitForStandardError("[stdin] EOF")) << capture.diagnostics();
  EXPECT_FALSE(capture.process().waitForExit(std::chrono::milliseconds(500)).has_value()) << "ended at end of input";

  // SIGTERM: "stopped" with "signal" is the last line, and the exit status is 0.
  capture.process().sendSignal(SIGTERM);
  const auto status = capture.process().waitForExit(std::chrono::seconds(30));
  ASSERT_TRUE(status.has_value()) << "still running after SIGTERM";
  ASSERT_TRUE(WIFEXITED(*status)) << capture.diagnostics();
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  capture.process().waitForStandardOutput(std::string(1, '\0'), std::chrono::seconds(2));
  lines = test::wholeLines(capture.process().standardOutputText());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(json::parse(lines.back()), json::parse(R"({"type":"stopped","reason":"signal"})"));
}


TEST(CaptureHostTest, OnDeviceEnginesTurnSpeechIntoTranscriptChunks) {
  static const struct {
    const char* engine;
    bool streamed;
  } engines[] = {{"", true}, {"batch", false}};
  test::TemporaryDirectory home;
  const fs::path you = spokenSample(home.path(), "you.wav", {"Good morning everyone.", "Let us begin the review."});
  for (const auto& engine : engines) {
    SCOPED_TRACE(engine.engine);
    PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::absent);
    CaptureProcess capture(server, home.path() / engine.engine, engine.engine);
    const auto ready = capture.waitForType(0, "ready");
    ASSERT_TRUE(ready) << capture.diagnostics();
    // What this machine can do: the recogniser with its installed model.
    EXPECT_EQ((*ready)["capabilities"]["transcriber"], "SpeechAnalyzer");
    EXPECT_EQ((*ready)["capabilities"]["supportedLocales"], json::array({"en-US"}));

    ASSERT_TRUE(capture.send(R"({"cmd":"start","meetingId":"standup"})"));
    ASSERT_TRUE(capture.process().waitForStandardError("[capture] started meeting=standup")) << capture.diagnostics();
    ASSERT_TRUE(server.play(you)) << server.log();
    if (engine.streamed) {
      // Each sentence settles on its own once its pause has been heard.
      ASSERT_TRUE(capture.waitFor(0, [](const json& line) {
        return line["type"] == "chunk" && line["speaker"] == "you" && line["isFinal"] == true;
      })) << capture.diagnostics();
    }
    const std::size_t beforeStop = capture.lines().size();
    ASSERT_TRUE(capture.send(R"({"cmd":"stop"})"));
    ASSERT_TRUE(capture.waitForType(beforeStop, "stopped")) << capture.diagnostics();

    std::vector<json> finals;
    long long lastEnd = -1;
    for (const auto& text : capture.lines()) {
      const auto line = json::parse(text);
      if (line["type"] != "chunk" || line["speaker"] != "you") continue;
      EXPECT_FALSE(line["text"].get<std::string>().empty());
      EXPECT_LE(line["start"].get<long long>(), line["end"].get<long long>());
      if (line["isFinal"] != true) continue;
      EXPECT_GE(line["start"].get<long long>(), lastEnd - 1000) << "settled chunks go forward in time";
      lastEnd = line["end"].get<long long>();
      finals.push_back(line);
    }
    EXPECT_FALSE(finals.empty()) << capture.process().standardOutputText();
  }
}

// The models' folder is moved the way the dictation agent's is: a folder without models leaves no locale to
// offer, and a start then names the model to install instead of recording.
TEST(CaptureHostTest, TheSpeechModelFolderFollowsItsEnvironmentVariable) {
  test::TemporaryDirectory home;
  fs::create_directories(home.path() / "no-models");
  PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::absent);
  CaptureProcess capture(server, home.path(), "", {{"QUILLET_SPEECH_MODEL_ROOT", (home.path() / "no-models").string()}});
  const auto ready = capture.waitForType(0, "ready");
  ASSERT_TRUE(ready) << capture.diagnostics();
  EXPECT_EQ((*ready)["capabilities"]["supportedLocales"], json::array());

  ASSERT_TRUE(capture.send(R"({"cmd":"start","meetingId":"standup"})"));
  const auto failure = capture.waitForType(0, "error");
  ASSERT_TRUE(failure) << capture.diagnostics();
  EXPECT_NE(failure->dump().find("no speech model is installed for en-US"), std::string::npos) << failure->dump();
}

// With the default engine and no staging folder, the speech just before a stop is settled and sent before
// "stopped", and the stop does not wait out any bound.
TEST(CaptureHostTest, StopWithoutAStagingFolderAnswersPromptlyAfterTheLastSpeechIsSettled) {
  test::TemporaryDirectory home;
  const fs::path you = spokenSample(home.path(), "you.wav", {"Please send the minutes to everyone today."});
  PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::absent);
  CaptureProcess capture(server, home.path(), "");
  ASSERT_TRUE(capture.waitForType(0, "ready")) << capture.diagnostics();
  ASSERT_TRUE(capture.send(R"({"cmd":"start","meetingId":"minutes"})"));
  ASSERT_TRUE(capture.process().waitForStandardError("[capture] started meeting=minutes")) << capture.diagnostics();
  ASSERT_TRUE(server.play(you)) << server.log();

  const std::size_t beforeStop = capture.lines().size();
  const auto stopSent = std::chrono::steady_clock::now();
  ASSERT_TRUE(capture.send(R"({"cmd":"stop"})"));
  ASSERT_TRUE(capture.waitForType(beforeStop, "stopped")) << capture.diagnostics();
  const std::chrono::duration<double> stopTook = std::chrono::steady_clock::now() - stopSent;
  // A loose bound: the finalize bounds are 5 s for each speaker.
  EXPECT_LT(stopTook.count(), 1.5) << capture.diagnostics();
  EXPECT_EQ(capture.diagnostics().find("[deadline]"), std::string::npos) << capture.diagnostics();

  const auto lines = capture.lines();
  bool settled = false;
  for (const auto& text : lines) {
    const auto line = json::parse(text);
    if (line["type"] == "stopped") break;
    settled = settled || (line["type"] == "chunk" && line["speaker"] == "you" && line["isFinal"] == true &&
                          !line["text"].get<std::string>().empty());
  }
  EXPECT_TRUE(settled) << "no settled chunk before stopped: " << capture.process().standardOutputText();
}

// Fast restarts as a nervous host sends them: every stop is answered, nothing hangs, and the signal still ends
// the process at once.
TEST(CaptureHostTest, ThirtyQuickStartStartStopCyclesNeverHangAndEveryStopIsAnswered) {
  test::TemporaryDirectory home;
  PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::absent);
  CaptureProcess capture(server, home.path(), "");
  ASSERT_TRUE(capture.waitForType(0, "ready")) << capture.diagnostics();
  constexpr int kCycles = 30;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    // Gaps of 0 to 0.5 s, in a fixed order so that a failure repeats.
    const auto gap = std::chrono::milliseconds((cycle * 7 % 6) * 100);
    ASSERT_TRUE(capture.send(R"({"cmd":"start"})"));
    std::this_thread::sleep_for(gap);
    ASSERT_TRUE(capture.send(R"({"cmd":"start"})"));
    std::this_thread::sleep_for(gap);
    ASSERT_TRUE(capture.send(R"({"cmd":"stop"})"));
  }
  std::size_t stops = 0;
  const auto answered = capture.waitFor(
      0, [&stops](const json& line) { return line["type"] == "stopped" && ++stops == kCycles; },
      std::chrono::seconds(120));
  ASSERT_TRUE(answered) << stops << " of " << kCycles << " stops answered\n" << capture.diagnostics();

  const auto signalled = std::chrono::steady_clock::now();
  capture.process().sendSignal(SIGTERM);
  const auto status = capture.process().waitForExit(std::chrono::seconds(10));
  const std::chrono::duration<double> exitTook = std::chrono::steady_clock::now() - signalled;
  ASSERT_TRUE(status.has_value()) << "still running after SIGTERM";
  ASSERT_TRUE(WIFEXITED(*status)) << capture.diagnostics();
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_LT(exitTook.count(), 1.0);
}

// "start" and "stop" in one write, with no capture running and while one runs (the "start" then first resets it):
// once the host reads "stopped", nothing records and nothing more is said, however long it waits.
TEST(CaptureHostTest, StartAndStopInOneWriteLeaveNothingRecordingAfterStopped) {
  test::TemporaryDirectory home;
  PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::absent);
  CaptureProcess capture(server, home.path(), "");
  ASSERT_TRUE(capture.waitForType(0, "ready")) << capture.diagnostics();
  // The virtual microphone itself records the feed's monitor; the capture's own streams come on top.
  const auto idle = server.recordingStreamCount();
  ASSERT_TRUE(idle.has_value()) << server.log();
  ASSERT_TRUE(capture.send(R"({"cmd":"start"})"));
  ASSERT_TRUE(capture.process().waitForStandardError("[capture] started meeting=")) << capture.diagnostics();
  EXPECT_GT(server.recordingStreamCount(), idle) << "a running capture shows no recording stream";
  ASSERT_TRUE(capture.send(R"({"cmd":"stop"})"));
  ASSERT_TRUE(capture.waitForType(0, "stopped")) << capture.diagnostics();

  for (const bool whileRunning : {false, true}) {
    for (int round = 0; round < 3; ++round) {
      SCOPED_TRACE(std::string(whileRunning ? "while a capture runs" : "with no capture") + ", round " +
                   std::to_string(round));
      if (whileRunning) {
        const std::size_t beforeStart = capture.lines().size();
        const std::string meeting = "running-" + std::to_string(round);
        ASSERT_TRUE(capture.send(json{{"cmd", "start"}, {"meetingId", meeting}}.dump()));
        ASSERT_TRUE(capture.process().waitForStandardError("[capture] started meeting=" + meeting))
            << capture.diagnostics();
        ASSERT_TRUE(capture.waitForType(beforeStart, "started")) << capture.diagnostics();
      }
      const std::size_t before = capture.lines().size();
      ASSERT_TRUE(capture.process().writeStandardInput("{\"cmd\":\"start\"}\n{\"cmd\":\"stop\"}\n"));
      ASSERT_TRUE(capture.waitForType(before, "stopped")) << capture.diagnostics();
      EXPECT_EQ(server.recordingStreamCount(), idle) << capture.diagnostics();
      // Long enough for a restart deferred behind the reset of a running capture to show itself.
      std::this_thread::sleep_for(std::chrono::seconds(2));
      EXPECT_EQ(server.recordingStreamCount(), idle) << "still recording after stopped\n" << capture.diagnostics();

      const auto lines = capture.lines();
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(json::parse(lines.back())["type"], "stopped") << capture.process().standardOutputText();
      std::vector<std::string> types;
      for (std::size_t index = before; index < lines.size(); ++index) {
        const auto type = json::parse(lines[index])["type"].get<std::string>();
        if (type != "error") types.push_back(type);
      }
      EXPECT_EQ(types, (std::vector<std::string>{"started", "stopped"})) << capture.process().standardOutputText();
    }
  }

  // The pill showing offscreen makes Qt speak; on standard error it is tagged like every other line.
  const std::string diagnostics = capture.diagnostics();
  EXPECT_NE(diagnostics.find("\n[qt] "), std::string::npos) << diagnostics;
  for (const auto& line : test::wholeLines(diagnostics)) EXPECT_EQ(line.rfind('[', 0), 0U) << "untagged: " << line;
}

// The meeting application runs silent for a while, then speaks in a stream of its own: its recording keeps the
// silence, so both staging recordings last as long as the capture and its speech is placed where it was played.
TEST(CaptureHostTest, AMeetingApplicationSilentAtFirstStaysOnTheCapturesTimeLine) {
  test::TemporaryDirectory home;
  // A call application opens its stream a moment before anyone speaks; the lead-in also lets the capture find
  // the new stream before the speech starts.
  const fs::path spoken = spokenSample(home.path(), "spoken.wav", {"Thanks for joining the call today."});
  const fs::path others = home.path() / "others.wav";
  ASSERT_TRUE(ChildProcess::runToSuccess("sox", {spoken.string(), others.string(), "pad", "1"}));
  // The loopback keeps the virtual microphone hearing in real time from the first moment, as a real one does.
  PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::playing);
  // The meeting application: first a silent process, later its player, both going by the same name.
  const fs::path silentFolder = home.path() / "silent";
  const fs::path playerFolder = home.path() / "player";
  fs::create_directories(silentFolder);
  fs::create_directories(playerFolder);
  fs::copy_file(ChildProcess::pathOf("sleep"), silentFolder / "meeting-player");
  fs::copy_file(ChildProcess::pathOf("pacat"), playerFolder / "meeting-player");
  const std::vector<std::string> launcherVariables{"GIO_LAUNCHED_DESKTOP_FILE", "GIO_LAUNCHED_DESKTOP_FILE_PID"};
  ChildProcess silentMeeting((silentFolder / "meeting-player").string(), {"120"}, ChildProcess::Environment{},
                             launcherVariables, ChildProcess::StandardOutput::discarded);

  CaptureProcess capture(server, home.path());
  ASSERT_TRUE(capture.waitForType(0, "ready")) << capture.diagnostics();
  const fs::path staging = home.path() / "staging";
  ASSERT_TRUE(capture.send(
      json{{"cmd", "start"}, {"appBundleId", "meeting-player"}, {"stagingDir", staging.string()}}.dump()));
  const auto started = capture.waitForType(1, "started");
  ASSERT_TRUE(started) << capture.diagnostics();
  ASSERT_TRUE(capture.process().waitForStandardError("[capture] started meeting=")) << capture.diagnostics();
  EXPECT_NE(capture.diagnostics().find("[sysaudio] scoped to app meeting-player"), std::string::npos)
      << capture.diagnostics();

  // The moment the player's stream appears on the server is when its sound starts; a loaded machine can take
  // a good part of a second just to start the player.
  ChildProcess streams(ChildProcess::pathOf("pactl"), {"--server=" + server.serverAddress(), "subscribe"},
                       ChildProcess::Environment{}, {}, ChildProcess::StandardOutput::separate);
  std::this_thread::sleep_for(std::chrono::seconds(4));
  ChildProcess speaking((playerFolder / "meeting-player").string(),
                        {"--server=" + server.serverAddress(), "--device=speaker", others.string()},
                        ChildProcess::Environment{}, launcherVariables, ChildProcess::StandardOutput::discarded);
  ASSERT_TRUE(streams.waitForStandardOutput("'new' on sink-input")) << "the player's stream never appeared";
  const auto playedAt = std::chrono::system_clock::now();
  const auto played = speaking.waitForExit(std::chrono::seconds(30));
  ASSERT_TRUE(played && WIFEXITED(*played) && WEXITSTATUS(*played) == 0) << "the meeting application could not play";
  std::this_thread::sleep_for(std::chrono::seconds(2));

  const std::size_t beforeStop = capture.lines().size();
  ASSERT_TRUE(capture.send(R"({"cmd":"stop"})"));
  ASSERT_TRUE(capture.waitForType(beforeStop, "stopped")) << capture.diagnostics();
  const SoundFile mic = readSoundFile(staging / "mic.wav");
  const SoundFile system = readSoundFile(staging / "system.wav");
  EXPECT_GT(double(system.frames) / 16000, 6.0) << "the silent stretch is missing from the meeting's recording";
  EXPECT_NEAR(double(system.frames) / 16000, double(mic.frames) / 16000, 0.2);
  EXPECT_GT(system.peak, 0.05) << "the meeting application's speech is missing\n" << capture.diagnostics();

  const auto audio = capture.waitFor(0, [](const json& line) { return line["type"] == "audio" && line["speaker"] == "others"; });
  ASSERT_TRUE(audio) << capture.diagnostics();

  // The speech's place on the capture's time line, from "started" and the moment it was played, against where
  // the chunk says it is: the chunk's start plus where the speech begins inside its file.
  const auto playedMs = std::chrono::duration_cast<std::chrono::milliseconds>(playedAt.time_since_epoch()).count() -
                        (*started)["epochMs"].get<long long>();
  const double onsetInSample = readSoundFile(others).onsetSeconds;
  const double onsetInChunk = readSoundFile((*audio)["wavPath"].get<std::string>()).onsetSeconds;
  ASSERT_GE(onsetInSample, 0);
  ASSERT_GE(onsetInChunk, 0);
  EXPECT_NEAR(double((*audio)["start"].get<long long>()) + onsetInChunk * 1000, double(playedMs) + onsetInSample * 1000,
              300)
      << capture.process().standardOutputText();
}

}  // namespace
}  // namespace quillet
