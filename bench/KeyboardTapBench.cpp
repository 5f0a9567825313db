// The shortcut's keyboard path on a private X server: from a key press (XTest) to the recogniser's decision on the main
// loop, and the wake-ups of the whole process per second while no key is pressed (the goal is none).
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/x11/X11KeyboardTap.h"
#include "platform/linux/x11/XTestKeySynth.h"
#include "quillet-dictate/shell/ShortcutRecognizer.h"
#include "quillet-dictate/shell/VxLog.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace quillet;
using SteadyClock = std::chrono::steady_clock;

// Context switches of every thread of this process so far: each is a wake-up of a sleeping thread or a preemption.
long long contextSwitches() {
  long long total = 0;
  DIR* tasks = ::opendir("/proc/self/task");
  if (tasks == nullptr) return -1;
  while (const dirent* entry = ::readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream status(std::string("/proc/self/task/") + entry->d_name + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.starts_with("voluntary_ctxt_switches:") || line.starts_with("nonvoluntary_ctxt_switches:")) {
        total += std::stoll(line.substr(line.find(':') + 1));
      }
    }
  }
  ::closedir(tasks);
  return total;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  test::PrivateXServer server;
  test::TemporaryDirectory folder;
  platform::fake::VirtualMainLoop loop;
  dictate::VxLog log(folder.path() / "bench.log", loop, [](std::string_view) {});
  platform::x11::X11KeyboardTap tap(loop, server.displayName());
  platform::x11::XTestKeySynth keys(server.displayName());

  std::optional<SteadyClock::time_point> decidedAt;
  dictate::ShortcutRecognizer recognizer(tap, loop, loop, log, {[&] { decidedAt = SteadyClock::now(); }, {}});
  recognizer.registerHotkey();
  recognizer.setHotkey(dictate::DictateHotkey::Combo{2, {"command", "shift"}});
  loop.runUntil([] { return false; }, std::chrono::milliseconds(300));  // the grab is taken

  std::vector<double> latencies;
  for (int press = 0; press < 50; ++press) {
    decidedAt.reset();
    const auto sent = SteadyClock::now();
    keys.post({{platform::ModifierKey::super, platform::ModifierKey::shift}, "d"});
    if (!loop.runUntil([&] { return decidedAt.has_value(); }, std::chrono::seconds(2))) {
      std::printf("press %d was not recognised\n", press);
      continue;
    }
    latencies.push_back(std::chrono::duration<double, std::milli>(*decidedAt - sent).count());
  }
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    std::printf(
        "Super+Shift+D sent to decision (%zu presses): median %.3f ms, 95th percentile %.3f ms, worst %.3f ms\n",
        latencies.size(), latencies[latencies.size() / 2], latencies[latencies.size() * 95 / 100], latencies.back());
  }

  // Idle: nothing is pressed and nothing else runs; the main loop sleeps in runUntil like the agent's would.
  constexpr int kIdleSeconds = 10;
  const long long before = contextSwitches();
  loop.runUntil([] { return false; }, std::chrono::seconds(kIdleSeconds));
  const long long after = contextSwitches();
  // The measuring loop itself wakes once at the end of its wait.
  std::printf("idle for %d s: %lld context switches in the whole process, %.2f per second (goal: 0)\n", kIdleSeconds,
              after - before, double(after - before) / kIdleSeconds);
  return 0;
}
