// The PulseAudio input against a private daemon whose default input is a virtual microphone fed from WAV files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <numbers>
#include <sstream>
#include <thread>

#include "platform/linux/pulse/PulseAudioInput.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using platform::AudioBuffer;
using platform::AudioFormat;
using platform::MicAuthorization;
using platform::pulse::PulseAudioInput;
using test::PrivatePulseServer;

constexpr const char* kApplicationName = "quillet-e2e";
constexpr double kMicrophoneRate = 48000;
constexpr std::size_t kBufferFrames = 4096;
constexpr auto kPatience = std::chrono::seconds(10);

// A sine in each channel, half of full scale, made by sox at the virtual microphone's rate.
// `leadingSilence` seconds of silence come before the tone.
fs::path makeTone(const fs::path& folder, double seconds, const std::vector<int>& frequencies,
                  double leadingSilence = 0) {
  const fs::path file = folder / ("tone-" + std::to_string(frequencies.front()) + ".wav");
  std::vector<std::string> arguments{"-n", "-r", std::to_string(int(kMicrophoneRate)), "-c",
                                     std::to_string(frequencies.size()), "-b", "16", file.string(), "synth",
                                     std::to_string(seconds)};
  for (const int frequency : frequencies) arguments.insert(arguments.end(), {"sine", std::to_string(frequency)});
  arguments.insert(arguments.end(), {"gain", "-6"});
  if (leadingSilence > 0) arguments.insert(arguments.end(), {"pad", std::to_string(leadingSilence), "0"});
  test::ChildProcess sox(test::ChildProcess::pathOf("sox"), arguments, {}, {},
                         test::ChildProcess::StandardOutput::discarded);
  const auto status = sox.waitForExit();
  if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
    throw std::runtime_error("sox could not make a tone: " + sox.readStandardErrorToEnd());
  }
  return file;
}

struct TapCall {
  std::thread::id thread;
  std::size_t frameCount = 0;
  std::size_t channelCount = 0;
  AudioFormat format;
};

struct Captured {
  std::vector<TapCall> calls;
  std::vector<std::vector<float>> channels;
};

// Everything a tap was handed, in order, with the thread that handed it.
class Recording {
 public:
  platform::AudioInput::Tap tap() {
    return [this](const AudioBuffer& buffer) { add(buffer); };
  }

  bool waitUntil(const std::function<bool(const Captured&)>& condition) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kPatience, [&] { return condition(captured_); });
  }

  Captured snapshot() const {
    std::lock_guard lock(mutex_);
    return captured_;
  }

 private:
  void add(const AudioBuffer& buffer) {
    std::lock_guard lock(mutex_);
    captured_.calls.push_back({std::this_thread::get_id(), buffer.frameCount, buffer.channels.size(), buffer.format});
    captured_.channels.resize(std::max(captured_.channels.size(), buffer.channels.size()));
    for (std::size_t channel = 0; channel < buffer.channels.size(); ++channel) {
      const float* samples = buffer.channels[channel];
      captured_.channels[channel].insert(captured_.channels[channel].end(), samples, samples + buffer.frameCount);
    }
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Captured captured_;
};

// Where a tone sits in a recording, its loudness, its pitch from the rate of zero crossings, and the
// largest step between neighbouring samples, which a lost, repeated or misplaced piece of audio makes jump.
struct Tone {
  bool found = false;
  std::size_t begin = 0;
  std::size_t end = 0;  // one past the last loud sample
  double seconds = 0;
  double frequency = 0;
  double rms = 0;
  double largestStep = 0;
};

Tone findTone(const std::vector<float>& samples) {
  constexpr float loud = 0.05F;
  Tone tone;
  const auto isLoud = [](float sample) { return std::fabs(sample) > loud; };
  const auto first = std::find_if(samples.begin(), samples.end(), isLoud);
  if (first == samples.end()) return tone;
  const auto last = std::find_if(samples.rbegin(), samples.rend(), isLoud);
  tone.found = true;
  tone.begin = std::size_t(first - samples.begin());
  tone.end = std::size_t(samples.rend() - last);
  tone.seconds = double(tone.end - tone.begin) / kMicrophoneRate;
  std::size_t crossings = 0;
  double energy = 0;
  for (std::size_t index = tone.begin; index < tone.end; ++index) {
    if (index > tone.begin) {
      if ((samples[index - 1] < 0) != (samples[index] < 0)) ++crossings;
      tone.largestStep = std::max(tone.largestStep, double(std::fabs(samples[index] - samples[index - 1])));
    }
    energy += double(samples[index]) * samples[index];
  }
  tone.frequency = double(crossings) / 2 / tone.seconds;
  tone.rms = std::sqrt(energy / double(tone.end - tone.begin));
  return tone;
}

double rootMeanSquare(const std::vector<float>& samples, std::size_t begin, std::size_t end) {
  double energy = 0;
  for (std::size_t index = begin; index < end; ++index) energy += double(samples[index]) * samples[index];
  return end > begin ? std::sqrt(energy / double(end - begin)) : 0;
}

// The half-scale sine made by makeTone, whole, unbroken and followed by silence.
void expectWholeSine(const std::vector<float>& samples, double frequency, double seconds) {
  const Tone heard = findTone(samples);
  ASSERT_TRUE(heard.found) << "no tone in the recording";
  EXPECT_NEAR(heard.seconds, seconds, 0.01) << "audio was lost or repeated";
  EXPECT_NEAR(heard.frequency, frequency, frequency * 0.01);
  EXPECT_NEAR(heard.rms, 0.5 / std::sqrt(2.0), 0.02);
  const double steepestSineStep = 0.5 * 2 * std::numbers::pi * frequency / kMicrophoneRate;
  EXPECT_LT(heard.largestStep, 1.5 * steepestSineStep) << "the tone is broken";
  EXPECT_LT(rootMeanSquare(samples, heard.end, samples.size()), 0.001) << "no silence after the tone";
}

// True once the first channel holds a whole tone and a stretch of silence after it.
bool toneEnded(const Captured& captured) {
  if (captured.channels.empty()) return false;
  const Tone tone = findTone(captured.channels.front());
  return tone.found && captured.channels.front().size() - tone.end > std::size_t(0.3 * kMicrophoneRate);
}

std::size_t loudFrames(const std::vector<float>& samples, std::size_t from) {
  return std::size_t(std::count_if(samples.begin() + std::ptrdiff_t(std::min(from, samples.size())), samples.end(),
                                   [](float sample) { return std::fabs(sample) > 0.05F; }));
}

// Polls until `condition` holds; false when it still does not after a generous wait.
bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::size_t diagnosticLines(const std::string& standardError) {
  std::istringstream lines(standardError);
  std::size_t count = 0;
  for (std::string line; std::getline(lines, line);) count += line.rfind("[pulse] ", 0) == 0 ? 1 : 0;
  return count;
}

TEST(PulseAudioInputTest, ReportsTheDefaultInputsOwnRateAndChannelsAndDeliversThem) {
  static const struct {
    int sampleRate;
    int channelCount;
  } cases[] = {{48000, 2}, {44100, 1}, {16000, 4}};
  for (const auto& microphone : cases) {
    SCOPED_TRACE(std::to_string(microphone.sampleRate) + " Hz, " + std::to_string(microphone.channelCount) +
                 " channels");
    PrivatePulseServer server(PrivatePulseServer::Microphone{microphone.sampleRate, microphone.channelCount});
    PulseAudioInput input(server.serverAddress(), kApplicationName);

    EXPECT_EQ(input.authorization(), MicAuthorization::authorized);
    std::optional<bool> granted;
    input.requestAccess([&](bool answer) { granted = answer; });
    EXPECT_EQ(granted, std::optional<bool>(true));
    const auto format = input.hardwareFormat();
    ASSERT_TRUE(format.has_value());
    EXPECT_EQ(format->sampleRate, microphone.sampleRate);
    EXPECT_EQ(format->channelCount, microphone.channelCount);

    Recording recording;
    input.installTap(kBufferFrames, recording.tap());
    ASSERT_EQ(input.start(), succeeded());
    ASSERT_TRUE(recording.waitUntil([](const Captured& captured) { return !captured.calls.empty(); }));
    const TapCall first = recording.snapshot().calls.front();
    EXPECT_EQ(first.channelCount, std::size_t(microphone.channelCount));
    EXPECT_EQ(first.format.sampleRate, microphone.sampleRate);
    EXPECT_EQ(first.format.channelCount, microphone.channelCount);
    input.removeTap();
    input.stop();
  }
}

TEST(PulseAudioInputTest, OffersNoVoiceProcessing) {
  PulseAudioInput input("", kApplicationName);
  EXPECT_FALSE(input.voiceProcessingEnabled());
  EXPECT_EQ(input.setVoiceProcessingEnabled(false), succeeded());
  EXPECT_EQ(input.setVoiceProcessingEnabled(true), Status(Error("voice processing is not available")));
  EXPECT_FALSE(input.voiceProcessingEnabled());
}

TEST(PulseAudioInputTest, ToneSpokenIntoTheMicrophoneArrivesInFullNonInterleavedBuffersOnTheAudioThread) {
  test::TemporaryDirectory folder;
  const fs::path tone = makeTone(folder.path(), 1.0, {440, 660});
  PrivatePulseServer server;
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  ASSERT_EQ(input.start(), succeeded());
  EXPECT_TRUE(input.isRunning());
  const auto testThread = std::this_thread::get_id();

  // The size the program asks for, and one that no fragment size of the server divides.
  for (const std::size_t bufferFrames : {kBufferFrames, std::size_t(1001)}) {
    SCOPED_TRACE(std::to_string(bufferFrames) + " frames a buffer");
    Recording recording;
    input.installTap(bufferFrames, recording.tap());
    ASSERT_TRUE(server.play(tone)) << server.log();
    ASSERT_TRUE(recording.waitUntil(toneEnded)) << "the tone did not arrive whole";
    input.removeTap();

    const Captured captured = recording.snapshot();
    for (std::size_t index = 0; index < captured.calls.size(); ++index) {
      const TapCall& call = captured.calls[index];
      SCOPED_TRACE("tap call " + std::to_string(index));
      EXPECT_EQ(call.channelCount, 2U);
      EXPECT_EQ(call.format.sampleRate, kMicrophoneRate);
      EXPECT_EQ(call.format.channelCount, 2);
      if (call.thread == testThread) {
        // Only removeTap hands a buffer over on the caller's thread, the last one and only part full.
        EXPECT_EQ(index, captured.calls.size() - 1);
        EXPECT_GT(call.frameCount, 0U);
        EXPECT_LT(call.frameCount, bufferFrames);
      } else {
        EXPECT_EQ(call.frameCount, bufferFrames);
      }
    }
    ASSERT_EQ(captured.channels.size(), 2U);
    static const struct {
      std::size_t channel;
      double frequency;
    } channels[] = {{0, 440}, {1, 660}};
    for (const auto& expected : channels) {
      SCOPED_TRACE("channel " + std::to_string(expected.channel));
      expectWholeSine(captured.channels[expected.channel], expected.frequency, 1.0);
    }
  }
  input.stop();
  EXPECT_FALSE(input.isRunning());
}

// A single channel is copied in one piece rather than picked out frame by frame as with several.
TEST(PulseAudioInputTest, AMonoMicrophonesToneArrivesWholeAcrossBuffersNoFragmentDivides) {
  test::TemporaryDirectory folder;
  const fs::path tone = makeTone(folder.path(), 0.5, {330});
  PrivatePulseServer server(PrivatePulseServer::Microphone{int(kMicrophoneRate), 1});
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  Recording recording;
  input.installTap(1001, recording.tap());
  ASSERT_EQ(input.start(), succeeded());
  ASSERT_TRUE(server.play(tone)) << server.log();
  ASSERT_TRUE(recording.waitUntil(toneEnded)) << "the tone did not arrive whole";
  input.removeTap();
  input.stop();

  const Captured captured = recording.snapshot();
  ASSERT_EQ(captured.channels.size(), 1U);
  expectWholeSine(captured.channels.front(), 330, 0.5);
}

// The two orders in which a recording can end.
const struct EndingOrder {
  const char* order;
  bool stopFirst;
} kEndingOrders[] = {{"removeTap, then stop", false}, {"stop, then removeTap", true}};

// Records `tone` played into the microphone through a tap of `tapFrames`, waits `pause` after the player
// has drained, then ends in the given order; answers what the tap received.
Captured recordToneThenEnd(PulseAudioInput& input, PrivatePulseServer& server, const fs::path& tone,
                           std::size_t tapFrames, const EndingOrder& ending, std::chrono::milliseconds pause) {
  Recording recording;
  input.installTap(tapFrames, recording.tap());
  EXPECT_EQ(input.start(), succeeded());
  EXPECT_TRUE(server.play(tone)) << server.log();
  std::this_thread::sleep_for(pause);
  if (ending.stopFirst) input.stop();
  input.removeTap();
  input.stop();
  return recording.snapshot();
}

TEST(PulseAudioInputTest, RemoveTapHandsOverTheAudioNotYetDeliveredOnTheCallersThread) {
  test::TemporaryDirectory folder;
  const fs::path tone = makeTone(folder.path(), 0.5, {440, 440});
  PrivatePulseServer server;
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  for (const auto& ending : kEndingOrders) {
    SCOPED_TRACE(ending.order);
    // Ten seconds never fill, so all the audio is still waiting in the buffer when the tap goes; the pause
    // leaves room for the last fragments and some silence, and is not a measure of speed.
    const std::size_t tenSeconds = std::size_t(10 * kMicrophoneRate);
    const Captured captured =
        recordToneThenEnd(input, server, tone, tenSeconds, ending, std::chrono::milliseconds(500));
    ASSERT_EQ(captured.calls.size(), 1U);
    EXPECT_EQ(captured.calls.front().thread, std::this_thread::get_id());
    EXPECT_LT(captured.calls.front().frameCount, tenSeconds);
    ASSERT_EQ(captured.channels.size(), 2U);
    expectWholeSine(captured.channels.front(), 440, 0.5);
  }

  Recording removed;
  input.installTap(kBufferFrames, removed.tap());
  input.removeTap();
  ASSERT_EQ(input.start(), succeeded());
  ASSERT_TRUE(server.play(tone)) << server.log();
  EXPECT_TRUE(removed.snapshot().calls.empty()) << "a removed tap was called";
  input.stop();
}

TEST(PulseAudioInputTest, OnceRemoveTapReturnsTheTapNeitherRunsNorIsCalledAgainAcrossInstallCycles) {
  PrivatePulseServer server;
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  ASSERT_EQ(input.start(), succeeded());
  for (int cycle = 0; cycle < 10; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    std::atomic<int> running = 0;
    std::atomic<bool> removed = false;
    std::atomic<int> callsAfterRemoval = 0;
    Recording recording;
    auto record = recording.tap();
    // Small buffers that take a while each keep the audio thread inside the tap most of the time.
    input.installTap(64, [&, record](const AudioBuffer& buffer) {
      ++running;
      if (removed) ++callsAfterRemoval;
      record(buffer);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      --running;
    });
    ASSERT_TRUE(recording.waitUntil([](const Captured& captured) { return captured.calls.size() >= 3; }));
    input.removeTap();
    removed = true;
    EXPECT_EQ(running, 0) << "the audio thread was still inside the tap";
    // Long enough for several more fragments to reach a tap that was not detached.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(callsAfterRemoval, 0);
  }
  input.stop();
}

TEST(PulseAudioInputTest, TapMayStopRecordingOrRemoveItselfFromInsideItsCall) {
  static const struct {
    const char* action;
    bool stopsRecording;
  } cases[] = {{"stop", true}, {"removeTap", false}};
  PrivatePulseServer server;
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  for (const auto& situation : cases) {
    SCOPED_TRACE(situation.action);
    ASSERT_EQ(input.start(), succeeded());
    std::atomic<int> calls = 0;
    std::atomic<bool> acted = false;
    input.installTap(64, [&](const AudioBuffer& /*buffer*/) {
      if (++calls > 1) return;
      if (situation.stopsRecording) {
        input.stop();
      } else {
        input.removeTap();
      }
      acted = true;
    });
    ASSERT_TRUE(eventually([&] { return acted.load(); }));
    EXPECT_EQ(input.isRunning(), !situation.stopsRecording);
    // Several fragments' worth, which a tap still attached to a running input would be handed.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(calls, 1);
    input.removeTap();
    input.stop();
  }

  // Recording works as before afterwards.
  Recording recording;
  input.installTap(kBufferFrames, recording.tap());
  ASSERT_EQ(input.start(), succeeded());
  EXPECT_TRUE(recording.waitUntil([](const Captured& captured) { return !captured.calls.empty(); }));
  input.removeTap();
  input.stop();
}

TEST(PulseAudioInputTest, AsksTheServerForFragmentsOfOneTapBufferRatherThanItsLongBursts) {
  PrivatePulseServer server;
  const auto idle = server.configuredLatency("virtual_mic");
  ASSERT_TRUE(idle.has_value());
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  Recording recording;
  input.installTap(kBufferFrames, recording.tap());
  ASSERT_EQ(input.start(), succeeded());
  const auto whileRecording = server.configuredLatency("virtual_mic");
  ASSERT_TRUE(whileRecording.has_value());
  // One tap buffer of 4096 frames at 48 kHz lasts 85 ms: the audio thread wakes about once per buffer.
  EXPECT_LE(*whileRecording, std::chrono::milliseconds(100)) << "the server was left to deliver in its own large bursts";
  EXPECT_GE(*whileRecording, std::chrono::milliseconds(40)) << "fragments much shorter than a tap buffer wake the thread for nothing";
  EXPECT_LT(*whileRecording, *idle);
  input.removeTap();
  input.stop();
}

TEST(PulseAudioInputTest, EndingRightAfterTheLastSoundStillHandsAllOfItOver) {
  test::TemporaryDirectory folder;
  // The sound server may drop the first milliseconds a player sends into a sink that has just woken; the
  // silence in front keeps that loss out of the tone, whose length then tells whether its end was cut.
  const fs::path tone = makeTone(folder.path(), 0.5, {440, 440}, 0.1);
  PrivatePulseServer server;
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  for (const auto& ending : kEndingOrders) {
    SCOPED_TRACE(ending.order);
    // The player has just drained; ending at once asks the server for whatever it has not sent yet.
    const Captured captured =
        recordToneThenEnd(input, server, tone, kBufferFrames, ending, std::chrono::milliseconds(0));
    ASSERT_EQ(captured.channels.size(), 2U);
    expectWholeSine(captured.channels.front(), 440, 0.5);
    EXPECT_NEAR(findTone(captured.channels.front()).seconds, 0.5, 0.001) << "the tone's end was cut";
  }
}

TEST(PulseAudioInputTest, EachOfSeveralStopStartCyclesHearsTheMicrophone) {
  test::TemporaryDirectory folder;
  const fs::path tone = makeTone(folder.path(), 0.3, {440, 440});
  PrivatePulseServer server;
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  Recording recording;
  input.installTap(1024, recording.tap());
  for (int cycle = 0; cycle < 3; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    const Captured before = recording.snapshot();
    const std::size_t heardBefore = before.channels.empty() ? 0 : before.channels[0].size();
    ASSERT_EQ(input.start(), succeeded());
    EXPECT_TRUE(input.isRunning());
    ASSERT_TRUE(server.play(tone)) << server.log();
    EXPECT_TRUE(recording.waitUntil([heardBefore](const Captured& captured) {
      return !captured.channels.empty() &&
             loudFrames(captured.channels[0], heardBefore) >= std::size_t(0.2 * kMicrophoneRate);
    }));
    input.stop();
    EXPECT_FALSE(input.isRunning());
  }
  const std::size_t callsWhileRecording = recording.snapshot().calls.size();
  ASSERT_TRUE(server.play(tone)) << server.log();
  EXPECT_EQ(recording.snapshot().calls.size(), callsWhileRecording) << "audio was delivered after stop";
  input.removeTap();
}

TEST(PulseAudioInputTest, WithoutAMicrophoneAccessIsDeniedAndStartFails) {
  static const struct {
    const char* situation;
    bool serverRunning;
    const char* startError;
  } cases[] = {
      {"no sound server", false, "cannot reach the sound server"},
      {"a sound server without any input", true, "the sound server has no input source"},
  };
  for (const auto& situation : cases) {
    SCOPED_TRACE(situation.situation);
    test::TemporaryDirectory nowhere;
    std::optional<PrivatePulseServer> server;
    if (situation.serverRunning) server.emplace(std::nullopt);
    const std::string address =
        server ? server->serverAddress() : "unix:" + (nowhere.path() / "missing" / "native").string();
    PulseAudioInput input(address, kApplicationName);

    EXPECT_EQ(input.authorization(), MicAuthorization::denied);
    std::optional<bool> granted;
    input.requestAccess([&](bool answer) { granted = answer; });
    EXPECT_EQ(granted, std::optional<bool>(false));
    EXPECT_FALSE(input.hardwareFormat().has_value());

    Recording recording;
    input.installTap(kBufferFrames, recording.tap());
    const auto started = input.start();
    ASSERT_TRUE(started.failed());
    EXPECT_NE(started.error().description().find(situation.startError), std::string::npos) << started;
    EXPECT_FALSE(input.isRunning());
    input.stop();
    input.removeTap();
    EXPECT_TRUE(recording.snapshot().calls.empty());
  }
}

TEST(PulseAudioInputTest, ServerDyingMidSessionStopsRecordingWithOneDiagnosticAndLaterStartsFail) {
  PrivatePulseServer server;
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  Recording recording;
  input.installTap(1024, recording.tap());
  ASSERT_EQ(input.start(), succeeded());
  ASSERT_TRUE(recording.waitUntil([](const Captured& captured) { return !captured.calls.empty(); }));

  testing::internal::CaptureStderr();
  server.kill();
  const bool stopped = eventually([&] { return !input.isRunning(); });
  const std::string standardError = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(stopped) << "still recording from a dead server";
  EXPECT_EQ(diagnosticLines(standardError), 1U) << standardError;
  EXPECT_NE(standardError.find("[pulse] lost the sound server"), std::string::npos) << standardError;

  EXPECT_FALSE(input.hardwareFormat().has_value());
  input.removeTap();
  input.stop();
  EXPECT_TRUE(input.start().failed());
  EXPECT_FALSE(input.isRunning());
  EXPECT_EQ(input.authorization(), MicAuthorization::denied);
}

TEST(PulseAudioInputTest, HungServerNeitherHoldsUpStopNorLetsStartWaitForever) {
  PrivatePulseServer server;
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  Recording recording;
  input.installTap(kBufferFrames, recording.tap());
  ASSERT_EQ(input.start(), succeeded());
  ASSERT_TRUE(recording.waitUntil([](const Captured& captured) { return !captured.calls.empty(); }));

  server.freeze();
  input.removeTap();
  input.stop();
  const auto started = input.start();
  server.thaw();
  ASSERT_TRUE(started.failed());
  EXPECT_NE(started.error().description().find("did not answer"), std::string::npos) << started;
  EXPECT_FALSE(input.isRunning());
}

TEST(PulseAudioInputTest, MonitorOfAnOutputAsTheDefaultInputIsRecordedWithADiagnostic) {
  PrivatePulseServer server;
  ASSERT_TRUE(server.setDefaultSource("speaker.monitor")) << server.log();
  PulseAudioInput input(server.serverAddress(), kApplicationName);
  Recording recording;
  input.installTap(kBufferFrames, recording.tap());

  testing::internal::CaptureStderr();
  const auto started = input.start();
  const std::string standardError = testing::internal::GetCapturedStderr();
  ASSERT_EQ(started, succeeded());
  EXPECT_NE(standardError.find("[pulse] the default input \"speaker.monitor\" is the monitor of an output"),
            std::string::npos)
      << standardError;
  EXPECT_TRUE(recording.waitUntil([](const Captured& captured) { return !captured.calls.empty(); }));
  input.removeTap();
  input.stop();
}

}  // namespace
}  // namespace quillet
