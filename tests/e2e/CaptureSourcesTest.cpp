// The capture sources on the PulseAudio adapters, against a private daemon: "speaker" is the default output and
// "virtual_mic" the default input. Players are copies of pacat under names of their own, so that each is an
// application of its own to the identity lookup, as a meeting application and a music player are.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/identity/ProcessAppIdentity.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "platform/linux/pulse/PulseSystemAudioInput.h"
#include "quillet-capture/sources/MicCapture.h"
#include "quillet-capture/sources/SystemAudioCapture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/unit/capture/CollectedLines.h"

namespace quillet::capture {
namespace {

namespace fs = std::filesystem;
using test::ChildProcess;
using test::PrivatePulseServer;
using testing::CollectedLines;

constexpr auto kPatience = std::chrono::seconds(10);
constexpr double kRate = 48000;

// Keeps the first channel of everything it is given; a source calls it from its audio thread.
class CollectingTranscriber final : public Transcriber {
 public:
  void start(Speaker speaker, std::string /*locale*/, StartCompletion completion) override {
    startedAs = speaker;
    completion({});
  }
  void consume(const platform::AudioBuffer& buffer) override {
    std::lock_guard lock(mutex_);
    if (!buffer.channels.empty()) samples_.insert(samples_.end(), buffer.channels[0], buffer.channels[0] + buffer.frameCount);
    changed_.notify_all();
  }
  void stop(StopCompletion completion) override { completion(); }

  // Waits until at least `frames` more frames than `from` arrived; answers the frames from `from` on.
  std::vector<float> waitForFrames(std::size_t from, std::size_t frames) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, kPatience, [&] { return samples_.size() >= from + frames; });
    return {samples_.begin() + std::ptrdiff_t(std::min(from, samples_.size())), samples_.end()};
  }
  std::size_t frameCount() {
    std::lock_guard lock(mutex_);
    return samples_.size();
  }

  std::optional<Speaker> startedAs;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<float> samples_;
};

// The pitch of the loud part of `samples`, from the rate of zero crossings in its loud 10 ms windows; 0 when
// less than a fifth of a second is loud.
double loudPitch(const std::vector<float>& samples) {
  const auto window = std::size_t(kRate / 100);
  std::size_t loudWindows = 0;
  std::size_t crossings = 0;
  for (std::size_t begin = 1; begin + window <= samples.size(); begin += window) {
    float peak = 0;
    std::size_t windowCrossings = 0;
    for (std::size_t index = begin; index < begin + window; ++index) {
      peak = std::max(peak, std::fabs(samples[index]));
      if ((samples[index - 1] < 0) != (samples[index] < 0)) ++windowCrossings;
    }
    if (peak < 0.05F) continue;
    ++loudWindows;
    crossings += windowCrossings;
  }
  return loudWindows < 20 ? 0.0 : double(crossings) / 2 / (double(loudWindows) / 100);
}

bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

class CaptureSourcesTest : public ::testing::Test {
 protected:
  // A sine of `frequency` lasting `seconds`, a quarter of full scale.
  fs::path tone(int frequency, double seconds) {
    const fs::path file = folder.path() / ("tone-" + std::to_string(frequency) + ".wav");
    if (!fs::exists(file) &&
        !ChildProcess::runToSuccess("sox", {"-n", "-r", "48000", "-c", "2", "-b", "16", file.string(), "synth",
                                            std::to_string(seconds), "sine", std::to_string(frequency), "gain", "-12"})) {
      throw std::runtime_error("sox could not make a tone");
    }
    return file;
  }

  // Starts a player called `name` (which must contain "play", so pacat plays files) playing `file` on the speaker.
  std::unique_ptr<ChildProcess> player(const std::string& name, const fs::path& file) {
    const fs::path program = folder.path() / name;
    if (!fs::exists(program)) fs::copy_file(ChildProcess::pathOf("pacat"), program);
    fs::permissions(program, fs::perms::owner_all);
    return std::make_unique<ChildProcess>(program.string(),
                                          std::vector<std::string>{"--server=" + server.serverAddress(),
                                                                   "--device=speaker", file.string()},
                                          ChildProcess::Environment{},
                                          std::vector<std::string>{"PULSE_SERVER", "PULSE_SINK", "GIO_LAUNCHED_DESKTOP_FILE",
                                                                   "GIO_LAUNCHED_DESKTOP_FILE_PID"},
                                          ChildProcess::StandardOutput::discarded);
  }

  bool isPlaying(platform::SystemAudioInput& input, const std::string& application) {
    return eventually([&] {
      const auto content = input.shareableContent();
      if (content.failed()) return false;
      const auto& applications = content.value().applications;
      return std::find(applications.begin(), applications.end(), application) != applications.end();
    });
  }

  Expected<void, CaptureError> start(CaptureSource& source, std::shared_ptr<Transcriber> transcriber,
                                    std::optional<std::string> appBundleId) {
    std::optional<Expected<void, CaptureError>> answer;
    source.start(std::move(transcriber), "en-US", std::move(appBundleId),
                 [&](Expected<void, CaptureError> failure) { answer = failure; });
    EXPECT_TRUE(loop.runUntil([&] { return answer.has_value(); })) << "start never answered";
    return answer.value_or(Expected<void, CaptureError>());
  }

  void stop(CaptureSource& source) {
    bool stopped = false;
    source.stop([&] { stopped = true; });
    EXPECT_TRUE(loop.runUntil([&] { return stopped; })) << "stop never answered";
  }

  std::shared_ptr<SystemAudioCapture> systemAudio(std::shared_ptr<platform::SystemAudioInput> input) {
    return SystemAudioCapture::make(std::move(input), {loop, loop, *control, {}, diagnostics.sink()}, activity);
  }

  test::TemporaryDirectory folder;
  PrivatePulseServer server;
  platform::fake::VirtualMainLoop loop;
  std::shared_ptr<CaptureControl> control = CaptureControl::make(loop);
  std::shared_ptr<AudioActivity> activity = std::make_shared<AudioActivity>(loop);
  platform::identity::ProcessAppIdentity identity;
  CollectedLines diagnostics;
};

TEST_F(CaptureSourcesTest, ScopedCaptureRecordsTheApplicationAloneIncludingAStreamItOpensLater) {
  auto input = std::make_shared<platform::pulse::PulseSystemAudioInput>(identity, server.serverAddress(), "quillet-e2e");
  const auto music = player("music-player", tone(1000, 60));
  const auto meeting = player("meeting-player", tone(440, 60));
  ASSERT_TRUE(isPlaying(*input, "meeting-player")) << server.log();
  ASSERT_TRUE(isPlaying(*input, "music-player"));

  auto transcriber = std::make_shared<CollectingTranscriber>();
  auto capture = systemAudio(input);
  ASSERT_EQ(start(*capture, transcriber, "meeting-player"), (Expected<void, CaptureError>()));
  EXPECT_EQ(transcriber->startedAs, Speaker::others);
  EXPECT_EQ(diagnostics.lines().front(), "[sysaudio] scoped to app meeting-player\n");
  EXPECT_NEAR(loudPitch(transcriber->waitForFrames(0, std::size_t(kRate))), 440, 20)
      << "the music player was recorded too";

  // The meeting application's first stream ends and it opens another: the new one joins the recording.
  meeting->sendSignal(SIGTERM);
  meeting->waitForExit();
  const auto rejoined = player("meeting-player", tone(440, 60));
  const std::size_t before = transcriber->frameCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_NEAR(loudPitch(transcriber->waitForFrames(before + std::size_t(0.5 * kRate), std::size_t(kRate))), 440, 20);
  stop(*capture);
}

// A call often starts silent: the meeting application runs with no stream open while a music player plays.
TEST_F(CaptureSourcesTest, AMeetingApplicationRunningSilentAtStartIsStillWhatIsRecorded) {
  auto input = std::make_shared<platform::pulse::PulseSystemAudioInput>(identity, server.serverAddress(), "quillet-e2e");
  const fs::path silentFolder = folder.path() / "silent";
  fs::create_directories(silentFolder);
  fs::copy_file(ChildProcess::pathOf("sleep"), silentFolder / "meeting-player");
  ChildProcess silentMeeting((silentFolder / "meeting-player").string(), {"60"}, ChildProcess::Environment{},
                             std::vector<std::string>{"GIO_LAUNCHED_DESKTOP_FILE", "GIO_LAUNCHED_DESKTOP_FILE_PID"},
                             ChildProcess::StandardOutput::discarded);
  const auto music = player("music-player", tone(1000, 60));
  ASSERT_TRUE(isPlaying(*input, "music-player")) << server.log();

  auto transcriber = std::make_shared<CollectingTranscriber>();
  auto capture = systemAudio(input);
  ASSERT_EQ(start(*capture, transcriber, "meeting-player"), (Expected<void, CaptureError>()));
  EXPECT_EQ(diagnostics.lines().front(), "[sysaudio] scoped to app meeting-player\n");
  // While the application plays nothing, its recording goes on as silence: the music is not in it.
  const auto quiet = transcriber->waitForFrames(0, std::size_t(kRate));
  ASSERT_GE(quiet.size(), std::size_t(kRate)) << "the silent application's recording did not move with the clock";
  EXPECT_EQ(loudPitch(quiet), 0.0) << "the music player was recorded while the meeting application was silent";

  // The call's sound starts later, in a stream of its own; the music is never part of the recording.
  const auto speaking = player("meeting-player", tone(440, 60));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::size_t before = transcriber->frameCount();
  EXPECT_NEAR(loudPitch(transcriber->waitForFrames(before + std::size_t(0.5 * kRate), std::size_t(kRate))), 440, 20)
      << "the music player was recorded too";
  stop(*capture);
}

TEST_F(CaptureSourcesTest, WithoutTheApplicationTheWholeDefaultOutputIsRecorded) {
  auto input = std::make_shared<platform::pulse::PulseSystemAudioInput>(identity, server.serverAddress(), "quillet-e2e");
  const auto music = player("music-player", tone(1000, 60));
  ASSERT_TRUE(isPlaying(*input, "music-player")) << server.log();

  auto transcriber = std::make_shared<CollectingTranscriber>();
  auto capture = systemAudio(input);
  // Matching looks at every running application of the user, and other tests run stand-ins for real meeting
  // applications, so the one asked for here is one no test runs.
  ASSERT_EQ(start(*capture, transcriber, "org.example.absent-meeting"), (Expected<void, CaptureError>()));
  EXPECT_EQ(diagnostics.lines().front(),
            "[sysaudio] whole-display capture (app org.example.absent-meeting not found)\n");
  EXPECT_NEAR(loudPitch(transcriber->waitForFrames(0, std::size_t(kRate))), 1000, 40);
  stop(*capture);
}

TEST_F(CaptureSourcesTest, MicrophoneIsRecordedAndFollowsANewDefaultInput) {
  auto input = std::make_shared<platform::pulse::PulseAudioInput>(server.serverAddress(), "quillet-e2e");
  auto transcriber = std::make_shared<CollectingTranscriber>();
  auto mic = MicCapture::make(input, loop, *control, activity, diagnostics.sink());
  ASSERT_EQ(start(*mic, transcriber, std::nullopt), (Expected<void, CaptureError>()));
  EXPECT_EQ(transcriber->startedAs, Speaker::you);
  EXPECT_EQ(diagnostics.lines().front(), "[mic] format=48000.0Hz 2ch\n");
  ASSERT_TRUE(server.play(tone(440, 1)));
  EXPECT_NEAR(loudPitch(transcriber->waitForFrames(0, std::size_t(1.2 * kRate))), 440, 20);

  // The user picks another input: the source restarts on it.
  ASSERT_TRUE(server.setDefaultSource("speaker.monitor"));
  ASSERT_TRUE(loop.runUntil([&] { return diagnostics.lines().size() >= 3; })) << "no restart";
  const auto lines = diagnostics.lines();
  EXPECT_EQ(lines[1].rfind("[mic] config change \xE2\x80\x94 restarting engine, format=", 0), 0U) << lines[1];
  EXPECT_EQ(lines[2], "[mic] engine restarted after config change (attempt 1)\n");
  const std::size_t before = transcriber->frameCount();
  const auto music = player("music-player", tone(1000, 60));
  EXPECT_GT(loudPitch(transcriber->waitForFrames(before, std::size_t(2 * kRate))), 900) << "nothing heard after the restart";
  stop(*mic);
}

}  // namespace
}  // namespace quillet::capture
