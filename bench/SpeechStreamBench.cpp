// The streaming recogniser (PocketSphinx, installed en-us model) on 30 s of espeak-ng speech in sentences
// with pauses. Prints two figures:
// - the real-time factor: all audio pushed at once, wall and CPU time until the stream has ended, over the
//   audio's length;
// - the settle lag: the audio pushed at its real pace, the time from pushing the end of an utterance to the
//   arrival of its settled result (this includes the half second of silence the detector waits for).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "platform/linux/pocketsphinx/PocketSphinxRecognizer.h"
#include "tests/support/SpokenSpeech16k.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace quillet;
using Clock = std::chrono::steady_clock;
using platform::SpeechResult;
using platform::pocketsphinx::PocketSphinxRecognizer;

constexpr double kRate = 16000;
constexpr std::size_t kPiece = 1600;  // 100 ms, as a source delivers it

double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

std::vector<std::int16_t> pcm16(const std::vector<float>& samples) {
  std::vector<std::int16_t> converted;
  for (const float sample : samples) converted.push_back(std::int16_t(std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767.0f)));
  return converted;
}

struct Arrival {
  SpeechResult result;
  Clock::time_point at;
};

// Runs one stream over `samples`, pushing a piece every `pace` (zero: all at once); answers every result
// with its arrival time, and when each piece was pushed.
std::vector<Arrival> run(PocketSphinxRecognizer& recognizer, const std::vector<std::int16_t>& samples,
                         Clock::duration pace, std::vector<Clock::time_point>& pushedAt) {
  std::mutex mutex;
  std::vector<Arrival> arrivals;
  std::promise<void> ended;
  auto opened = recognizer.openStream("en-US", {[&](const SpeechResult& result) {
                                                  std::lock_guard lock(mutex);
                                                  arrivals.push_back({result, Clock::now()});
                                                },
                                                [&](const Status&) { ended.set_value(); }});
  if (opened.failed()) {
    std::fprintf(stderr, "no stream: %s\n", opened.error().description().c_str());
    return arrivals;
  }
  auto& stream = opened.value();
  const auto begin = Clock::now();
  for (std::size_t start = 0, index = 0; start < samples.size(); start += kPiece, ++index) {
    if (pace != Clock::duration::zero()) std::this_thread::sleep_until(begin + pace * (index + 1));
    stream->push(std::span(samples).subspan(start, std::min(kPiece, samples.size() - start)));
    pushedAt.push_back(Clock::now());
  }
  stream->finish();
  ended.get_future().wait();
  stream.reset();
  return arrivals;
}

}  // namespace

int main() {
  test::TemporaryDirectory folder;
  std::vector<std::string> sentences = {
      "let us start with the budget for next year", "the quick brown fox jumps over the lazy dog",
      "we will meet again on monday morning", "please send the notes to everyone",
      "thank you all for coming today", "the numbers look better than last quarter",
      "who will take the action items", "i think we are done for today"};
  auto speech = test::spokenSpeech16k(folder.path(), sentences, 1.0);
  if (!speech) {
    std::fputs("espeak-ng or sox failed\n", stderr);
    return 1;
  }
  // Exactly 30 s: cut, or padded with silence.
  speech->resize(std::size_t(30 * kRate), 0.0f);
  const auto samples = pcm16(*speech);
  const double seconds = double(samples.size()) / kRate;

  PocketSphinxRecognizer recognizer;
  std::vector<Clock::time_point> ignored;
  run(recognizer, std::vector<std::int16_t>(samples.begin(), samples.begin() + std::ptrdiff_t(kRate)),
      Clock::duration::zero(), ignored);  // loads the model

  const auto wallStart = Clock::now();
  const double cpuStart = cpuSeconds();
  const auto fast = run(recognizer, samples, Clock::duration::zero(), ignored);
  const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  const double cpu = cpuSeconds() - cpuStart;
  std::printf("audio %.1f s, %zu results (%ld settled)\n", seconds, fast.size(),
              long(std::count_if(fast.begin(), fast.end(), [](const Arrival& arrival) { return arrival.result.isFinal; })));
  std::printf("real-time factor: wall %.3f (%.2f s), cpu %.3f (%.2f s)\n", wall / seconds, wall, cpu / seconds, cpu);

  std::vector<Clock::time_point> pushedAt;
  const auto paced = run(recognizer, samples, std::chrono::milliseconds(100), pushedAt);
  std::vector<double> lags;
  for (const auto& arrival : paced) {
    if (!arrival.result.isFinal || !arrival.result.range) continue;
    const double endSeconds = arrival.result.range->start + arrival.result.range->duration;
    const auto piece = std::min(pushedAt.size() - 1, std::size_t(std::ceil(endSeconds * kRate / double(kPiece))) - 1);
    const double lag = std::chrono::duration<double>(arrival.at - pushedAt[piece]).count();
    lags.push_back(lag);
    std::printf("  settled [%6.2f s, %6.2f s] after %.2f s: %s\n", arrival.result.range->start, endSeconds, lag,
                arrival.result.text.c_str());
  }
  if (lags.empty()) {
    std::puts("settle lag: no settled result");
    return 1;
  }
  std::sort(lags.begin(), lags.end());
  std::printf("settle lag: median %.2f s, max %.2f s over %zu utterances\n", lags[lags.size() / 2], lags.back(),
              lags.size());
  return 0;
}
