// Idle cost of quillet-presence: the program runs against a private sound server on which nothing plays
// or records, and its CPU time is read from the scheduler over a stretch of wall time (60 s unless
// given in seconds as the first argument). Prints the share of one core and wake-ups per second.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/ThreadAccounting.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/TemporaryDirectory.h"

using namespace quillet;

int main(int argc, char* argv[]) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  test::TemporaryDirectory home;
  test::PrivatePulseServer server(test::PrivatePulseServer::Microphone{},
                                  test::PrivatePulseServer::FeedLoopback::absent);
  test::ChildProcess presence(QUILLET_PRESENCE_BINARY, {},
                              {{"PULSE_SERVER", server.serverAddress()}, {"HOME", home.path().string()}},
                              {"PULSE_SINK", "PULSE_SOURCE", "PULSE_CLIENTCONFIG"},
                              test::ChildProcess::StandardOutput::withStandardError);
  if (!presence.waitForStandardError("\"type\":\"browsers\"")) {
    std::fprintf(stderr, "quillet-presence did not start: %s\n", presence.standardErrorText().c_str());
    return 1;
  }
  // Start-up (connecting, the first scans) is a one-time cost; the steady state is what an idle desktop pays.
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const std::string process = "/proc/" + std::to_string(presence.pid());
  const auto before = bench::ThreadAccounting::of(process);
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const auto after = bench::ThreadAccounting::of(process);

  for (const auto& [name, cpu] : after.cpuSeconds) {
    const double used = cpu - (before.cpuSeconds.count(name) != 0 ? before.cpuSeconds.at(name) : 0.0);
    const auto wakeUps = after.wakeUps.at(name) - (before.wakeUps.count(name) != 0 ? before.wakeUps.at(name) : 0);
    std::printf("  thread %-16s %.3f ms CPU and %.2f wake-ups per second\n", name.c_str(), used * 1000.0 / seconds,
                double(wakeUps) / seconds);
  }
  const double used = after.totalCpuSeconds() - before.totalCpuSeconds();
  std::printf("quillet-presence idle over %.0f s: %.3f ms CPU per second, %.4f%% of one core, %.2f wake-ups per second\n",
              seconds, used * 1000.0 / seconds, used * 100.0 / seconds,
              double(after.totalWakeUps() - before.totalWakeUps()) / seconds);
  std::printf("presence lines written while idle: %s\n",
              presence.standardErrorText().find("\"type\":\"presence\"") ==
                      presence.standardErrorText().rfind("\"type\":\"presence\"")
                  ? "none beyond the first"
                  : "some (the desktop was not idle)");
  return 0;
}
