#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::test {

// A PulseAudio daemon of one test's own, living in its own runtime folder: a null output "speaker", the default
// output, and a virtual microphone "virtual_mic", the default input, which hears whatever plays into the sink
// "mic_feed". Nothing of it reaches this process's environment; the destructor ends it.
class PrivatePulseServer {
 public:
  // The virtual microphone's format as the server reports it.
  struct Microphone {
    int sampleRate = 48000;
    int channelCount = 2;
  };

  // Whether the microphone's feed also plays on the speaker all along. That keeps the null sinks rendering in
  // real time, but it is a stream that never stops playing; tests watching which devices are in use go without.
  enum class FeedLoopback { playing, absent };

  PrivatePulseServer() : PrivatePulseServer(Microphone{}) {}

  // Starts the daemon and waits until it answers; throws with the daemon's log when it does not.
  // Without a microphone the server has no device at all, since every output brings its monitor as an input.
  explicit PrivatePulseServer(std::optional<Microphone> microphone, FeedLoopback loopback = FeedLoopback::playing)
      : socket_(folder_.path() / "native"), logFile_(folder_.path() / "pulseaudio.log") {
    writeFile(script(), startupScript(microphone, loopback));
    start();
  }

  ~PrivatePulseServer() {
    if (!daemon_->waitForExit(std::chrono::milliseconds(0))) {
      daemon_->sendSignal(SIGTERM);
      thaw();
      daemon_->waitForExit(std::chrono::seconds(5));
    }
    // A daemon still running after that is killed by ChildProcess as it goes.
    daemon_.reset();
  }

  PrivatePulseServer(const PrivatePulseServer&) = delete;
  PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

  // The address a client passes instead of the user's server.
  [[nodiscard]] std::string serverAddress() const { return "unix:" + socket_.string(); }

  // Plays a sound file into the virtual microphone as if someone spoke into it; returns once it has
  // played and answers whether paplay succeeded.
  bool play(const std::filesystem::path& soundFile) {
    return succeeded(*helper("paplay", {"--device=mic_feed", soundFile.string()}));
  }

  // Plays a sound file on the speaker, as a meeting application playing the other side's voice does;
  // returns once it has played.
  bool playOnSpeaker(const std::filesystem::path& soundFile) {
    return succeeded(*helper("paplay", {"--device=speaker", soundFile.string()}));
  }

  // Makes `sourceName` the server's default input, as a user picking another microphone does.
  bool setDefaultSource(const std::string& sourceName) {
    return succeeded(*helper("pactl", {"set-default-source", sourceName}));
  }

  // The latency the server configured for a source, which is the smallest its recording streams asked
  // for; nothing when the source or the server is not there.
  std::optional<std::chrono::microseconds> configuredLatency(const std::string& sourceName) {
    const auto pactl = helper("pactl", {"list", "sources"}, ChildProcess::StandardOutput::withStandardError);
    const std::string listing = pactl->readStandardErrorToEnd(helperTimeout);
    if (!succeeded(*pactl)) return std::nullopt;
    const auto source = listing.find("Name: " + sourceName + "\n");
    const std::string label = "configured ";
    const auto latency = listing.find(label, source);
    if (source == std::string::npos || latency == std::string::npos) return std::nullopt;
    return std::chrono::microseconds(std::stoll(listing.substr(latency + label.size())));
  }

  // How many recording streams the server has open, from any client; nothing when it does not answer.
  std::optional<std::size_t> recordingStreamCount() {
    const auto pactl = helper("pactl", {"list", "short", "source-outputs"}, ChildProcess::StandardOutput::withStandardError);
    const std::string listing = pactl->readStandardErrorToEnd(helperTimeout);
    if (!succeeded(*pactl)) return std::nullopt;
    return std::size_t(std::count(listing.begin(), listing.end(), '\n'));
  }

  // Ends the daemon at once, the way a crash does.
  void kill() {
    daemon_->sendSignal(SIGKILL);
    daemon_->waitForExit();
  }

  // Starts the daemon again after kill(), at the same address and with the same devices, as a desktop
  // restarting its sound server does.
  void restart() {
    daemon_.reset();
    start();
  }

  // A recorder of the default input, running until the test ends it (or lets it go).
  [[nodiscard]] std::unique_ptr<ChildProcess> startRecording() const { return helper("parecord", {"--raw"}); }

  // A player of a quiet tone lasting minutes into the default output, running until the test ends it.
  [[nodiscard]] std::unique_ptr<ChildProcess> startPlaying() const { return helper("paplay", {longTone().string()}); }

  // Freezes the daemon, the way a hung server looks to its clients: connections stay open, nothing answers.
  void freeze() { daemon_->sendSignal(SIGSTOP); }
  void thaw() { daemon_->sendSignal(SIGCONT); }

  // The daemon's own log, for failure messages.
  [[nodiscard]] std::string log() const { return readFile(logFile_); }

 private:
  static constexpr auto answerTimeout = std::chrono::seconds(10);
  static constexpr auto helperTimeout = std::chrono::seconds(30);

  static std::string quoted(const std::filesystem::path& path) { return "\"" + path.string() + "\""; }

  // A null sink renders as far ahead as the smallest latency asked of it, two seconds when nobody asks,
  // and a microphone made from its monitor would then hear nothing for up to two seconds after a recording
  // starts. The loopback keeps asking for a few milliseconds, and suspending the sink once restarts its
  // clock from there. The loopback listens to the sink's monitor, not to the virtual microphone, so the
  // microphone's own latency is still set by the streams recording it alone.
  [[nodiscard]] std::string startupScript(const std::optional<Microphone>& microphone, FeedLoopback loopback) const {
    std::string script = "load-module module-native-protocol-unix auth-anonymous=1 socket=" + quoted(socket_) + "\n";
    if (microphone) {
      script += "load-module module-null-sink sink_name=speaker\n";
      script += "load-module module-null-sink sink_name=mic_feed rate=" + std::to_string(microphone->sampleRate) +
                " channels=" + std::to_string(microphone->channelCount) + "\n";
      script += "load-module module-remap-source master=mic_feed.monitor source_name=virtual_mic\n";
      // The loopback keeps the null sink rendering in real time; asking for more latency than the
      // recorder does leaves the virtual mic's pace to the recorder, as with a real microphone.
      if (loopback == FeedLoopback::playing) {
        script += "load-module module-loopback source=mic_feed.monitor sink=speaker latency_msec=40\n";
      }
      script += "suspend-sink mic_feed 1\nsuspend-sink mic_feed 0\n";
      script += "set-default-sink speaker\n";
      script += "set-default-source virtual_mic\n";
    }
    return script;
  }

  // No configured scripts, no daemonizing, no idle exit; no real-time scheduling, which a test does not need.
  // Running as root is allowed for a per-user daemon (it only warns), which is how CI runs.
  [[nodiscard]] std::vector<std::string> daemonArguments(const std::filesystem::path& script) const {
    return {"-n",
            "--file=" + script.string(),
            "--system=no",
            "--daemonize=no",
            "--exit-idle-time=-1",
            "--disallow-exit=no",
            "--use-pid-file=no",
            "--realtime=no",
            "--high-priority=no",
            "--log-level=info",
            "--log-target=file:" + logFile_.string()};
  }

  // Every per-user place the daemon and its clients look in is inside the private folder.
  [[nodiscard]] ChildProcess::Environment privateEnvironment() const {
    const std::string folder = folder_.path().string();
    return {{"HOME", folder},
            {"XDG_RUNTIME_DIR", folder},
            {"XDG_CONFIG_HOME", folder + "/config"},
            {"PULSE_RUNTIME_PATH", folder},
            {"PULSE_STATE_PATH", folder}};
  }

  // The user's own server, session bus and display would otherwise be found and joined.
  static std::vector<std::string> inheritedSettings() {
    return {"PULSE_SERVER", "PULSE_SINK", "PULSE_SOURCE", "PULSE_COOKIE", "PULSE_CLIENTCONFIG",
            "DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY"};
  }

  // pactl or paplay talking to this server, with a locale whose output the parsing above understands.
  [[nodiscard]] std::unique_ptr<ChildProcess> helper(
      const std::string& program, std::vector<std::string> arguments,
      ChildProcess::StandardOutput output = ChildProcess::StandardOutput::discarded) const {
    arguments.insert(arguments.begin(), "--server=" + serverAddress());
    auto environment = privateEnvironment();
    environment["LC_ALL"] = "C";
    return std::make_unique<ChildProcess>(ChildProcess::pathOf(program), arguments, environment, inheritedSettings(),
                                          output);
  }

  static bool succeeded(ChildProcess& helper) {
    const auto status = helper.waitForExit(helperTimeout);
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  [[nodiscard]] std::filesystem::path script() const { return folder_.path() / "startup.pa"; }

  void start() {
    daemon_ = std::make_unique<ChildProcess>(ChildProcess::pathOf("pulseaudio"), daemonArguments(script()),
                                             privateEnvironment(), inheritedSettings());
    if (!waitUntilAnswering()) {
      throw std::runtime_error("the private PulseAudio daemon did not start; its log:\n" + log());
    }
  }

  // Made once per server by sox: low-rate mono, so that minutes of it stay small.
  [[nodiscard]] std::filesystem::path longTone() const {
    const auto file = folder_.path() / "long-tone.wav";
    if (!std::filesystem::exists(file) &&
        !ChildProcess::runToSuccess("sox", {"-n", "-r", "8000", "-c", "1", "-b", "16", file.string(), "synth", "300",
                                            "sine", "440", "gain", "-30"})) {
      throw std::runtime_error("sox could not make a long tone");
    }
    return file;
  }

  bool waitUntilAnswering() {
    const auto deadline = std::chrono::steady_clock::now() + answerTimeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (daemon_->waitForExit(std::chrono::milliseconds(0))) return false;
      if (succeeded(*helper("pactl", {"info"}))) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  TemporaryDirectory folder_;
  std::filesystem::path socket_;
  std::filesystem::path logFile_;
  std::unique_ptr<ChildProcess> daemon_;
};

}  // namespace quillet::test
