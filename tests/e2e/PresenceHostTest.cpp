// Starts the real quillet-presence as the host does, against a private sound server, and reads its lines.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/linux/identity/ProcessAppIdentity.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/JsonLines.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::ChildProcess;
using test::PrivatePulseServer;

// The presence program with a desktop of the test's own: its sound server, no display, one browser.
class PresenceProcess {
 public:
  PresenceProcess(const PrivatePulseServer& server, const test::TemporaryDirectory& home) {
    const fs::path applications = home.path() / "system" / "applications";
    fs::create_directories(applications);
    fs::create_directories(home.path() / "user");
    test::writeFile(applications / "firefox.desktop",
                    "[Desktop Entry]\nType=Application\nName=Firefox\nExec=firefox %u\n"
                    "MimeType=text/html;x-scheme-handler/http;x-scheme-handler/https;\n");
    process_ = std::make_unique<ChildProcess>(
        QUILLET_PRESENCE_BINARY, std::vector<std::string>{},
        ChildProcess::Environment{{"PULSE_SERVER", server.serverAddress()},
                                  {"HOME", home.path().string()},
                                  {"XDG_DATA_HOME", (home.path() / "user").string()},
                                  {"XDG_DATA_DIRS", (home.path() / "system").string()}},
        std::vector<std::string>{"DISPLAY", "WAYLAND_DISPLAY", "PULSE_SINK", "PULSE_SOURCE", "PULSE_CLIENTCONFIG",
                                 "DBUS_SESSION_BUS_ADDRESS"},
        ChildProcess::StandardOutput::withStandardError);
  }

  // Every whole line written so far. Standard error shares the pipe, so anything the program
  // writes besides its protocol lines shows up here and fails the JSON checks.
  std::vector<std::string> lines() { return reader_.lines(); }

  // The first line after the first `after` ones that satisfies `wanted`, parsed; nothing on timeout.
  std::optional<json> waitForLine(std::size_t after, const std::function<bool(const json&)>& wanted) {
    return reader_.waitFor(after, wanted);
  }

  ChildProcess& process() { return *process_; }

 private:
  std::unique_ptr<ChildProcess> process_;
  test::JsonLineReader reader_{
      [this] { process_->waitForStandardError(std::string(1, '\0'), std::chrono::milliseconds(50)); },
      [this]() -> const std::string& { return process_->standardErrorText(); }};
};

bool contains(const json& array, const std::string& value) {
  return array.is_array() && std::find(array.begin(), array.end(), value) != array.end();
}

// Starts a recorder on the default input; it is returned once a line after the first `seen` ones reports
// it recording, and nothing is returned when none does.
std::unique_ptr<ChildProcess> startRecordingUntilReported(const PrivatePulseServer& server, PresenceProcess& presence,
                                                          std::size_t seen) {
  auto recorder = server.startRecording();
  const auto recorderId = platform::identity::ProcessAppIdentity().bundleIdOfProcess(recorder->pid());
  if (!recorderId) return nullptr;
  const auto recording = presence.waitForLine(seen, [&](const json& line) {
    return line["micActive"] == true && contains(line["micApps"], *recorderId);
  });
  return recording ? std::move(recorder) : nullptr;
}

void expectWellFormed(const std::vector<std::string>& lines) {
  for (const auto& text : lines) {
    SCOPED_TRACE(text);
    const json line = json::parse(text, nullptr, false);
    ASSERT_FALSE(line.is_discarded()) << "not JSON";
    ASSERT_TRUE(line.is_object());
    ASSERT_TRUE(line["ts"].is_number_integer());
    if (line["type"] == "browsers") {
      EXPECT_EQ(line.size(), 3U);
      EXPECT_TRUE(line["bundleIds"].is_array());
      continue;
    }
    EXPECT_EQ(line["type"], "presence");
    EXPECT_EQ(line.size(), 10U);
    for (const char* flag : {"micActive", "incomingAudio", "frontmost"}) EXPECT_TRUE(line[flag].is_boolean()) << flag;
    for (const char* member : {"meetingApp", "bundleId", "frontmostBundleId"}) {
      EXPECT_TRUE(line[member].is_null() || line[member].is_string()) << member;
    }
    for (const char* list : {"micApps", "outputApps"}) EXPECT_TRUE(line[list].is_array()) << list;
  }
}

TEST(PresenceHostTest, ReportsRecordersAndPlayersAsTheyComeAndGoAndEndsCleanlyOnSigterm) {
  test::TemporaryDirectory home;
  PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::absent);
  PresenceProcess presence(server, home);
  platform::identity::ProcessAppIdentity identity;

  // At start-up: the state, then the browsers found in the desktop's application folders.
  const auto browsers = presence.waitForLine(0, [](const json& line) { return line["type"] == "browsers"; });
  ASSERT_TRUE(browsers) << presence.process().standardErrorText();
  EXPECT_EQ((*browsers)["bundleIds"], json::array({"org.mozilla.firefox"}));
  const auto startLines = presence.lines();
  ASSERT_GE(startLines.size(), 2U);
  const json first = json::parse(startLines[startLines.size() - 2]);
  EXPECT_EQ(first["micActive"], false);
  EXPECT_EQ(first["incomingAudio"], false);
  // Without a display nothing is known to be in front.
  EXPECT_TRUE(first["frontmostBundleId"].is_null());
  EXPECT_EQ(first["frontmost"], false);

  std::size_t seen = presence.lines().size();
  auto recorder = startRecordingUntilReported(server, presence, seen);
  ASSERT_TRUE(recorder) << presence.process().standardErrorText();

  seen = presence.lines().size();
  auto player = server.startPlaying();
  const auto playerId = identity.bundleIdOfProcess(player->pid());
  ASSERT_TRUE(playerId.has_value());
  const auto playing = presence.waitForLine(seen, [&](const json& line) {
    return line["incomingAudio"] == true && contains(line["outputApps"], *playerId);
  });
  ASSERT_TRUE(playing) << presence.process().standardErrorText();

  seen = presence.lines().size();
  recorder->sendSignal(SIGTERM);
  player->sendSignal(SIGTERM);
  const auto quiet = presence.waitForLine(seen, [](const json& line) {
    return line["micActive"] == false && line["incomingAudio"] == false && line["micApps"].empty() &&
           line["outputApps"].empty();
  });
  ASSERT_TRUE(quiet) << presence.process().standardErrorText();

  const auto beforeSignal = presence.lines();
  presence.process().sendSignal(SIGTERM);
  const auto status = presence.process().waitForExit();
  ASSERT_TRUE(status.has_value()) << "still running after SIGTERM";
  ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << (WIFSIGNALED(*status) ? WTERMSIG(*status) : 0);
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  presence.process().readStandardErrorToEnd();
  const auto allLines = presence.lines();
  EXPECT_EQ(allLines.size(), beforeSignal.size()) << "written after SIGTERM: " << allLines.back();
  expectWellFormed(allLines);
}

TEST(PresenceHostTest, LevelMeterInTheSourcesOwnFormatIsNotMicrophoneUseButARecorderBesideItIs) {
  test::TemporaryDirectory home;
  PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::absent);
  PresenceProcess presence(server, home);
  ASSERT_TRUE(presence.waitForLine(0, [](const json& line) { return line["type"] == "browsers"; }));

  auto meter = std::make_unique<ChildProcess>(QUILLET_PEAK_METER_BINARY, std::vector<std::string>{"virtual_mic"},
                                              ChildProcess::Environment{{"PULSE_SERVER", server.serverAddress()}},
                                              std::vector<std::string>{}, ChildProcess::StandardOutput::separate);
  ASSERT_TRUE(meter->waitForStandardOutput("ready\n", std::chrono::seconds(10)));
  platform::identity::ProcessAppIdentity identity;
  // A recorder started after the meter proves the program has seen the meter's stream by the time it
  // reports the recorder, so a line naming the meter would have appeared by then.
  const std::size_t seen = presence.lines().size();
  auto recorder = startRecordingUntilReported(server, presence, seen);
  ASSERT_TRUE(recorder) << presence.process().standardErrorText();

  // With only the meter left, the state falls to no microphone use and, at the next holder refresh, no holders.
  const std::size_t recorded = presence.lines().size();
  recorder->sendSignal(SIGTERM);
  const auto meterOnly = presence.waitForLine(
      recorded, [](const json& line) { return line["micActive"] == false && line["micApps"].empty(); });
  ASSERT_TRUE(meterOnly) << presence.process().standardErrorText();
  const auto meterId = identity.bundleIdOfProcess(meter->pid());
  ASSERT_TRUE(meterId.has_value());
  for (const auto& text : presence.lines()) EXPECT_FALSE(contains(json::parse(text)["micApps"], *meterId)) << text;
  presence.process().sendSignal(SIGTERM);
  EXPECT_TRUE(presence.process().waitForExit().has_value());
  expectWellFormed(presence.lines());
}

TEST(PresenceHostTest, MeetingApplicationRunningIsReportedAndItsEndToo) {
  test::TemporaryDirectory home;
  PrivatePulseServer server(PrivatePulseServer::Microphone{}, PrivatePulseServer::FeedLoopback::absent);
  PresenceProcess presence(server, home);
  ASSERT_TRUE(presence.waitForLine(0, [](const json& line) { return line["type"] == "browsers"; }));

  // Zoom's Linux client is an executable named "zoom"; a copy of sleep under that name stands in for it.
  const fs::path zoom = home.path() / "zoom";
  fs::copy_file(ChildProcess::pathOf("sleep"), zoom);
  fs::permissions(zoom, fs::perms::owner_exec, fs::perm_options::add);
  std::size_t seen = presence.lines().size();
  auto meeting = std::make_unique<ChildProcess>(zoom.string(), std::vector<std::string>{"600"},
                                                ChildProcess::Environment{}, std::vector<std::string>{});
  const auto running = presence.waitForLine(seen, [](const json& line) { return line["meetingApp"] == "zoom"; });
  ASSERT_TRUE(running) << presence.process().standardErrorText();
  EXPECT_EQ((*running)["bundleId"], "us.zoom.xos");
  EXPECT_EQ((*running)["frontmost"], false);

  seen = presence.lines().size();
  meeting.reset();
  EXPECT_TRUE(presence.waitForLine(seen, [](const json& line) { return line["meetingApp"].is_null(); }));
  presence.process().sendSignal(SIGTERM);
  EXPECT_TRUE(presence.process().waitForExit().has_value());
  expectWellFormed(presence.lines());
}

}  // namespace
}  // namespace quillet
