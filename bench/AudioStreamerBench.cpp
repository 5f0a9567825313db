// CPU cost of the microphone path per second of 48 kHz stereo audio: the tap path
// (mixdown, resampling, speech gate, cutting) and the level analysis, measured apart
// because the analysis runs on its own queue.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "platform/fake/FakeUrlOpener.h"
#include "quillet-dictate/audio/AudioStreamer.h"
#include "quillet-dictate/audio/LevelMeter.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace quillet;

constexpr double kRate = 48000;
constexpr std::size_t kFramesPerBuffer = 4096;

// One second of a voice-like signal (a few harmonics with a slow swell) in tap-sized stereo buffers.
std::vector<std::vector<std::vector<float>>> oneSecondOfStereo() {
  std::vector<std::vector<std::vector<float>>> buffers;
  for (std::size_t first = 0; first < std::size_t(kRate); first += kFramesPerBuffer) {
    const std::size_t frames = std::min(kFramesPerBuffer, std::size_t(kRate) - first);
    std::vector<float> left(frames), right(frames);
    for (std::size_t index = 0; index < frames; ++index) {
      const double time = double(first + index) / kRate;
      const double swell = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3 * time);
      const double voice = std::sin(2 * std::numbers::pi * 180 * time) + 0.5 * std::sin(2 * std::numbers::pi * 360 * time) +
                           0.25 * std::sin(2 * std::numbers::pi * 1250 * time);
      left[index] = float(0.1 * swell * voice);
      right[index] = float(0.08 * swell * voice);
    }
    buffers.push_back({std::move(left), std::move(right)});
  }
  return buffers;
}

void BM_TapPathPerSecondOfAudio(benchmark::State& state) {
  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeAudioInput input;
  input.format = platform::AudioFormat{kRate, 2};
  platform::fake::FakeUrlOpener opener;
  test::TemporaryDirectory folder;
  dictate::VxLog log(folder.path() / "vessio.log", loop, {});
  auto streamer = dictate::AudioStreamer::create(input, platform::soxr::SoxrResampler::factory(), loop, log, opener);
  std::size_t chunkCount = 0;
  streamer->start([&](dictate::AudioStreamer::Chunk) { ++chunkCount; }, [](dictate::MicStatus) {});
  const auto second = oneSecondOfStereo();
  for (auto _ : state) {
    for (const auto& buffer : second) input.deliver(buffer);
  }
  streamer->stop();
  state.counters["chunks"] = double(chunkCount);
  state.SetLabel("per second of 48 kHz stereo");
}
BENCHMARK(BM_TapPathPerSecondOfAudio)->Unit(benchmark::kMicrosecond);

void BM_LevelAnalysisPerSecondOfAudio(benchmark::State& state) {
  dictate::LevelMeter meter;
  const auto second = oneSecondOfStereo();
  for (auto _ : state) {
    for (const auto& buffer : second) benchmark::DoNotOptimize(meter.analyze(buffer[0], kRate));
  }
  state.SetLabel("per second of 48 kHz audio (one analysis per tap buffer)");
}
BENCHMARK(BM_LevelAnalysisPerSecondOfAudio)->Unit(benchmark::kMicrosecond);

}  // namespace
