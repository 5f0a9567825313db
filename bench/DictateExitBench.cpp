// How long quillet-dictate takes to end after SIGTERM while work is in flight: three chunk requests held
// by a transcription server that never answers, a chunk being decoded by the on-device recogniser, and
// the session being stored while the host holds the settings store's write lock. Prints the time from the signal to the exit of each run and the worst of them; the host
// contract asks for half a second.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/HostDefaultsConnection.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/SpokenSample.h"
#include "tests/support/TemporaryDirectory.h"

using namespace quillet;

namespace {

// Signals the agent once `ready` holds and answers the seconds until it exited, or -1 when it did not end
// with status 0 within 10 s.
double secondsToExit(test::ChildProcess& agent, const std::function<bool()>& ready) {
  if (!ready()) return -1;
  const auto signalled = std::chrono::steady_clock::now();
  agent.sendSignal(SIGTERM);
  const auto status = agent.waitForExit(std::chrono::seconds(10));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
  if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) return seconds;
  std::fprintf(stderr, "the agent %s; its last words:\n%s\n",
               !status                ? "did not end within 10 s"
               : WIFSIGNALED(*status) ? ("was killed by signal " + std::to_string(WTERMSIG(*status))).c_str()
                                      : ("exited with status " + std::to_string(WEXITSTATUS(*status))).c_str(),
               agent.readStandardErrorToEnd(std::chrono::seconds(1)).c_str());
  return -1;
}

}  // namespace

int main() {
  test::TemporaryDirectory folder;
  const auto sample = folder.path() / "three.wav";
  if (!test::makeSpokenSample(folder.path(), {"so we went to the store", "and bought some milk", "then we went home"},
                              1.2, sample)) {
    std::fprintf(stderr, "espeak-ng or sox could not make the sample\n");
    return 1;
  }
  const test::ChildProcess::Environment base{{"XDG_CONFIG_HOME", (folder.path() / "config").string()},
                                             {"HOME", folder.path().string()},
                                             {"QT_QPA_PLATFORM", "offscreen"}};
  const std::vector<std::string> removed{"QL_SUPABASE_URL", "QL_ANON_KEY", "QL_ACCESS_TOKEN", "QL_REFRESH_TOKEN",
                                         "VOICE_PORT", "http_proxy", "all_proxy"};
  constexpr int kRuns = 5;
  double worst = 0;

  for (int run = 0; run < kRuns; ++run) {
    test::LoopbackHttpServer server;
    server.neverAnswer("POST", "/inference");
    auto environment = base;
    environment.insert({{"VOICE_PORT", std::to_string(server.port())},
                        {"QUILLET_SPEECH_MODEL_ROOT", (folder.path() / "none").string()}});
    test::ChildProcess agent(QUILLET_DICTATE_BINARY, {"--dictate-file", sample.string()}, environment, removed,
                             test::ChildProcess::StandardOutput::discarded);
    const double seconds =
        secondsToExit(agent, [&] { return server.waitForRequests(3, std::chrono::seconds(60)); });
    server.releaseBlocked();
    std::printf("three stalled requests in flight: exit %.3f s after SIGTERM\n", seconds);
    worst = seconds < 0 ? 1e9 : std::max(worst, seconds);
  }

  for (int run = 0; run < kRuns; ++run) {
    // No server at all: every chunk goes to the on-device recogniser first.
    test::ChildProcess agent(QUILLET_DICTATE_BINARY, {"--dictate-file", sample.string()}, base, removed,
                             test::ChildProcess::StandardOutput::discarded);
    // The first chunk is cut at the first pause, about 2 s into the file; its decode is then under way.
    const double seconds = secondsToExit(agent, [&] {
      return agent.waitForStandardError("(pause)", std::chrono::seconds(60));
    });
    std::printf("on-device decode in progress: exit %.3f s after SIGTERM\n", seconds);
    worst = seconds < 0 ? 1e9 : std::max(worst, seconds);
  }
  for (int run = 0; run < kRuns; ++run) {
    const auto database = folder.path() / ("store-" + std::to_string(run)) / "Quillet" / "defaults.sqlite";
    std::filesystem::create_directories(database.parent_path());
    const test::HostDefaultsConnection host(database);
    host.execute("CREATE TABLE IF NOT EXISTS defaults (key TEXT PRIMARY KEY NOT NULL, type TEXT NOT NULL, value)");
    host.execute("BEGIN IMMEDIATE");
    auto environment = base;
    environment["XDG_CONFIG_HOME"] = database.parent_path().parent_path().string();
    environment.insert({{"QL_SUPABASE_URL", "https://project.bench.test"},
                        {"QL_ANON_KEY", "anon"},
                        {"QL_ACCESS_TOKEN", "access"},
                        {"QL_REFRESH_TOKEN", "refresh"}});
    test::ChildProcess agent(QUILLET_DICTATE_BINARY, {}, environment, {"VOICE_PORT"},
                             test::ChildProcess::StandardOutput::discarded);
    const double seconds = secondsToExit(agent, [&] {
      return agent.waitForStandardError("session tokens received", std::chrono::seconds(20));
    });
    host.execute("ROLLBACK");
    std::printf("session waiting for the host's write lock: exit %.3f s after SIGTERM\n", seconds);
    worst = seconds < 0 ? 1e9 : std::max(worst, seconds);
  }
  std::printf("worst exit after SIGTERM: %.3f s (goal 0.5 s)\n", worst);
  return worst <= 0.5 ? 0 : 1;
}
