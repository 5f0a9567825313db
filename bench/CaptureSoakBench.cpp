// Soak run of quillet-capture as the host runs it: a private sound server, the whisper engine, and
// looping speech on both sides for a long capture (30 minutes unless given in minutes as the first
// argument). Samples the program's resident memory every 30 s and counts the "audio" events against the
// utterances played, then stops and checks that "stopped" arrives. Prints the figures; exit 1 on a loss.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/ChildProcess.h"
#include "tests/support/JsonLines.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/SpokenSample.h"
#include "tests/support/TemporaryDirectory.h"

using namespace quillet;
namespace fs = std::filesystem;

namespace {

long residentKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

}  // namespace

int main(int argc, char* argv[]) {
  const double minutes = argc > 1 ? std::atof(argv[1]) : 30.0;
  test::TemporaryDirectory home;
  const fs::path you = home.path() / "you.wav";
  const fs::path others = home.path() / "others.wav";
  // Each sample holds two utterances a second apart, then ends in silence long enough to cut them.
  if (!test::makeSpokenSample(home.path(), {"Here is the weekly status.", "Everything is on track."}, 1.0, you) ||
      !test::makeSpokenSample(home.path(), {"Thanks, any questions?", "None from me."}, 1.0, others)) {
    std::fprintf(stderr, "espeak-ng or sox failed\n");
    return 1;
  }
  fs::create_directories(home.path() / "tmp");
  fs::create_directories(home.path() / "runtime");
  test::PrivatePulseServer server(test::PrivatePulseServer::Microphone{},
                                  test::PrivatePulseServer::FeedLoopback::absent);
  test::ChildProcess capture(
      QUILLET_CAPTURE_BINARY, {},
      {{"PULSE_SERVER", server.serverAddress()},
       {"HOME", home.path().string()},
       {"XDG_CONFIG_HOME", (home.path() / "config").string()},
       {"XDG_RUNTIME_DIR", (home.path() / "runtime").string()},
       {"TMPDIR", (home.path() / "tmp").string()},
       {"QT_QPA_PLATFORM", "offscreen"},
       {"QL_CAPTURE_ENGINE", "whisper"},
       {"QL_VAD_SILENCE_MS", "400"},
       {"QL_VAD_MIN_SPEECH_MS", "500"}},
      {"DISPLAY", "WAYLAND_DISPLAY", "PULSE_SINK", "PULSE_SOURCE"}, test::ChildProcess::StandardOutput::separate,
      test::ChildProcess::StandardInput::piped);
  test::JsonLineReader events([&] { capture.waitForStandardOutput(std::string(1, '\0'), std::chrono::milliseconds(50)); },
                              [&]() -> const std::string& { return capture.standardOutputText(); });
  if (!events.waitFor(0, [](const nlohmann::json& line) { return line["type"] == "ready"; })) return 1;
  capture.writeStandardInput(R"({"cmd":"start","meetingId":"soak"})" "\n");
  if (!capture.waitForStandardError("[capture] started meeting=soak", std::chrono::seconds(30))) return 1;

  const auto start = std::chrono::steady_clock::now();
  const auto end = start + std::chrono::duration<double>(minutes * 60);
  auto nextSample = start;
  std::vector<long> resident;
  long rounds = 0;
  while (std::chrono::steady_clock::now() < end) {
    std::thread speaker([&] { server.playOnSpeaker(others); });
    server.play(you);
    speaker.join();
    ++rounds;
    // Room for the pause after the last word to cut it.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    if (std::chrono::steady_clock::now() >= nextSample) {
      resident.push_back(residentKilobytes(capture.pid()));
      nextSample += std::chrono::seconds(30);
    }
    static_cast<void>(events.lines());  // keeps the pipe drained
  }
  capture.writeStandardInput(R"({"cmd":"stop"})" "\n");
  const bool stopped = events.waitFor(0, [](const nlohmann::json& line) { return line["type"] == "stopped"; }).has_value();

  long youEvents = 0;
  long othersEvents = 0;
  for (const auto& text : events.lines()) {
    const auto line = nlohmann::json::parse(text, nullptr, false);
    if (line.is_discarded() || line["type"] != "audio") continue;
    (line["speaker"] == "you" ? youEvents : othersEvents) += 1;
  }
  long peak = 0;
  for (const long sample : resident) peak = std::max(peak, sample);
  std::printf("soak: %.1f minutes, %ld rounds of two utterances per side\n", minutes, rounds);
  std::printf("audio events: you %ld, others %ld (utterances played per side: %ld)\n", youEvents, othersEvents,
              2 * rounds);
  std::printf("resident memory: first %ld kB, last %ld kB, peak %ld kB over %zu samples\n",
              resident.empty() ? 0 : resident.front(), resident.empty() ? 0 : resident.back(), peak, resident.size());
  std::printf("stopped: %s\n", stopped ? "yes" : "no");
  // Utterances may merge into one piece when the pause is short, but none may be missing entirely.
  return stopped && youEvents >= rounds && othersEvents >= rounds ? 0 : 1;
}
