// Speech played into a virtual microphone of a private sound server reaches the streamer through
// the real PulseAudio adapter and libsoxr, and comes out as WAV chunks cut at the pause.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fake/FakeUrlOpener.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/pulse/PulseAudioInput.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "quillet-dictate/audio/AudioStreamer.h"
#include "common/audio/WavFormat.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/Pcm16.h"
#include "tests/support/PrivatePulseServer.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;


std::uint32_t uint32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return std::uint32_t(bytes[offset]) | std::uint32_t(bytes[offset + 1]) << 8 | std::uint32_t(bytes[offset + 2]) << 16 |
         std::uint32_t(bytes[offset + 3]) << 24;
}

std::uint16_t uint16At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return std::uint16_t(bytes[offset] | bytes[offset + 1] << 8);
}

// The span from the first to the last sample louder than `threshold`, as [first, last).
std::pair<std::size_t, std::size_t> audibleSpan(const std::vector<std::int16_t>& samples, int threshold = 300) {
  const auto loud = [threshold](std::int16_t sample) { return std::abs(int(sample)) > threshold; };
  const auto first = std::find_if(samples.begin(), samples.end(), loud);
  const auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
  if (first == samples.end()) return {0, 0};
  return {std::size_t(first - samples.begin()), samples.size() - std::size_t(last - samples.rbegin())};
}

double seconds(std::pair<std::size_t, std::size_t> span) { return double(span.second - span.first) / 16000.0; }

// Best normalised correlation of `captured` against `reference`, their audible starts aligned within ±50 ms.
double bestCorrelation(const std::vector<std::int16_t>& reference, const std::vector<std::int16_t>& captured) {
  const auto referenceStart = audibleSpan(reference).first;
  const auto capturedStart = audibleSpan(captured).first;
  double best = 0;
  for (int lag = -800; lag <= 800; ++lag) {
    double product = 0, referenceEnergy = 0, capturedEnergy = 0;
    for (std::size_t index = 0; index < 16000 * 2; ++index) {
      const auto referenceIndex = referenceStart + index;
      const auto capturedIndex = std::ptrdiff_t(capturedStart + index) + lag;
      if (referenceIndex >= reference.size() || capturedIndex < 0 || std::size_t(capturedIndex) >= captured.size()) break;
      const double a = reference[referenceIndex];
      const double b = captured[std::size_t(capturedIndex)];
      product += a * b;
      referenceEnergy += a * a;
      capturedEnergy += b * b;
    }
    if (referenceEnergy > 0 && capturedEnergy > 0) best = std::max(best, product / std::sqrt(referenceEnergy * capturedEnergy));
  }
  return best;
}

TEST(AudioStreamerMicrophoneTest, SpeechIntoTheVirtualMicrophoneBecomesChunksCutAtThePause) {
  test::TemporaryDirectory folder;
  const fs::path first = folder.path() / "first.wav";
  const fs::path pause = folder.path() / "pause.wav";
  const fs::path second = folder.path() / "second.wav";
  const fs::path spoken = folder.path() / "spoken.wav";
  const fs::path reference = folder.path() / "reference.raw";
  using test::ChildProcess;
  ASSERT_TRUE(ChildProcess::runToSuccess(
      "espeak-ng", {"-w", first.string(), "The quick brown fox jumps over the lazy dog by the river."}));
  ASSERT_TRUE(ChildProcess::runToSuccess("espeak-ng", {"-w", second.string(), "Seven silver swans swim slowly south."}));
  ASSERT_TRUE(
      ChildProcess::runToSuccess("sox", {"-n", "-r", "22050", "-c", "1", "-b", "16", pause.string(), "trim", "0", "1.0"}));
  ASSERT_TRUE(ChildProcess::runToSuccess("sox", {first.string(), pause.string(), second.string(), spoken.string()}));
  ASSERT_TRUE(ChildProcess::runToSuccess("sox", {spoken.string(), "-t", "raw", "-r", "16000", "-c", "1", "-b", "16",
                                                 "-e", "signed-integer", reference.string()}));
  const auto referenceSamples = test::samplesOfPcm16(test::readFile(reference));
  ASSERT_FALSE(referenceSamples.empty());
  const fs::path firstReference = folder.path() / "first.raw";
  ASSERT_TRUE(ChildProcess::runToSuccess("sox", {first.string(), "-t", "raw", "-r", "16000", "-c", "1", "-b", "16",
                                                 "-e", "signed-integer", firstReference.string()}));
  const auto firstSentenceSamples = test::samplesOfPcm16(test::readFile(firstReference));

  test::PrivatePulseServer server;
  platform::pulse::PulseAudioInput input(server.serverAddress(), "quillet-dictate-test");
  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeUrlOpener opener;
  std::string logged;
  std::mutex logMutex;
  dictate::VxLog log(folder.path() / "vessio.log", loop, [&](std::string_view line) {
    std::lock_guard lock(logMutex);
    logged.append(line);
  });
  auto streamer = dictate::AudioStreamer::create(input, platform::soxr::SoxrResampler::factory(), loop, log, opener);

  std::mutex chunksMutex;
  std::vector<dictate::AudioStreamer::Chunk> chunks;
  std::optional<dictate::MicStatus> status;
  streamer->start(
      [&](dictate::AudioStreamer::Chunk chunk) {
        std::lock_guard lock(chunksMutex);
        chunks.push_back(std::move(chunk));
      },
      [&](dictate::MicStatus received) { status = received; });
  ASSERT_TRUE(loop.runUntil([&] { return status.has_value(); }));
  ASSERT_EQ(*status, dictate::MicStatus::started);
  ASSERT_TRUE(input.isRunning()) << logged << server.log();

  ASSERT_TRUE(server.play(spoken));
  streamer->stop();

  std::lock_guard lock(chunksMutex);
  ASSERT_GE(chunks.size(), 2u) << logged;
  EXPECT_NE(logged.find("[AUDIO] chunk #0 (pause)"), std::string::npos) << logged;

  std::vector<std::int16_t> captured;
  for (std::size_t index = 0; index < chunks.size(); ++index) {
    const auto& wav = chunks[index].wav;
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(uint32At(wav, 4), wav.size() - 8);
    EXPECT_EQ(uint16At(wav, 20), 1);      // PCM
    EXPECT_EQ(uint16At(wav, 22), 1);      // mono
    EXPECT_EQ(uint32At(wav, 24), 16000u);
    EXPECT_EQ(uint16At(wav, 34), 16);
    EXPECT_EQ(uint32At(wav, 40), wav.size() - 44);
    EXPECT_EQ(chunks[index].index, int(index));
    const auto samples = test::samplesOfPcm16(wav, 44);
    captured.insert(captured.end(), samples.begin(), samples.end());
  }

  // The cut falls in the pause: the first chunk holds the first sentence.
  const auto firstChunkSpan = audibleSpan(test::samplesOfPcm16(chunks[0].wav, 44));
  EXPECT_NEAR(seconds(firstChunkSpan), seconds(audibleSpan(firstSentenceSamples)),
              0.1 * seconds(audibleSpan(firstSentenceSamples)));

  const auto playedSpan = audibleSpan(referenceSamples);
  const auto capturedSpan = audibleSpan(captured);
  EXPECT_NEAR(seconds(capturedSpan), seconds(playedSpan), 0.1 * seconds(playedSpan));
  EXPECT_GT(bestCorrelation(referenceSamples, captured), 0.8) << "the chunks do not hold what was played";
}

}  // namespace
}  // namespace quillet
