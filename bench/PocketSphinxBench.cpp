// PocketSphinx with the installed en-us model on speech spoken by espeak-ng: how long loading a model
// takes (a fresh recogniser's first call), and how long a warm decoder takes for a 2 s and an 8 s chunk.
// Prints the median wall time of a few runs; the real-time factor is decode time over audio time.
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/AudioFileSamples.h"
#include "platform/linux/pocketsphinx/PocketSphinxRecognizer.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace quillet;
using platform::pocketsphinx::PocketSphinxRecognizer;

constexpr int kRuns = 5;
constexpr const char* kText =
    "Please send the quarterly report to the whole team before Friday. We will review the numbers on "
    "Monday morning and decide which projects to fund next year.";

bool succeeded(const std::string& program, const std::vector<std::string>& arguments) {
  test::ChildProcess process(test::ChildProcess::pathOf(program), arguments, {}, {},
                             test::ChildProcess::StandardOutput::discarded);
  const auto status = process.waitForExit(std::chrono::seconds(60));
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

// The spoken text as 16 kHz 16-bit samples, or nothing when a helper program is missing.
std::vector<std::int16_t> speech() {
  test::TemporaryDirectory folder;
  const auto spoken = folder.path() / "spoken.wav";
  const auto converted = folder.path() / "converted.wav";
  if (!succeeded("espeak-ng", {"-v", "en-us+f2", "-s", "150", "-w", spoken.string(), kText}) ||
      !succeeded("sox", {"-D", spoken.string(), "-r", "16000", "-c", "1", "-b", "16", converted.string()})) {
    return {};
  }
  return test::audioFilePcm16(converted).value_or(std::vector<std::int16_t>());
}

// The first `seconds` of `samples`, repeated as often as needed.
std::vector<std::int16_t> chunkOf(const std::vector<std::int16_t>& samples, double seconds) {
  std::vector<std::int16_t> chunk(std::size_t(seconds * PocketSphinxRecognizer::kSampleRate));
  for (std::size_t index = 0; index < chunk.size(); ++index) chunk[index] = samples[index % samples.size()];
  return chunk;
}

// CPU seconds of the calling thread, which is where recognition runs; unlike wall time it does not
// grow when other programs share the processor.
double threadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct Timing {
  double wall = 0;
  double cpu = 0;
};

// The medians of wall and CPU time over kRuns runs.
Timing median(const std::function<void()>& run) {
  std::vector<double> walls;
  std::vector<double> cpus;
  for (int index = 0; index < kRuns; ++index) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = threadCpuSeconds();
    run();
    cpus.push_back(threadCpuSeconds() - cpuStart);
    walls.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(walls.begin(), walls.end());
  std::sort(cpus.begin(), cpus.end());
  return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

void recognize(PocketSphinxRecognizer& recognizer, const std::vector<std::int16_t>& samples, int* interims = nullptr,
               std::string* final = nullptr) {
  const auto recognised = recognizer.recognize("en-US", {samples, PocketSphinxRecognizer::kSampleRate},
                                          [&](const platform::SpeechResult& result) {
                                            if (!result.isFinal && interims != nullptr) ++*interims;
                                            if (result.isFinal && final != nullptr) *final = result.text;
                                          });
  if (recognised.failed()) std::fprintf(stderr, "recognition failed: %s\n", recognised.error().description().c_str());
}

}  // namespace

int main() {
  const auto samples = speech();
  if (samples.empty()) {
    std::fprintf(stderr, "espeak-ng or sox is missing\n");
    return 1;
  }

  const Timing load = median([] {
    PocketSphinxRecognizer fresh;
    recognize(fresh, {});
  });
  std::printf("model load (a fresh recogniser's first call, empty buffer): wall %.3f s, CPU %.3f s\n", load.wall,
              load.cpu);

  PocketSphinxRecognizer warm;
  recognize(warm, chunkOf(samples, 1));
  for (const double seconds : {2.0, 8.0}) {
    const auto chunk = chunkOf(samples, seconds);
    int interims = 0;
    std::string final;
    recognize(warm, chunk, &interims, &final);
    const Timing decode = median([&] { recognize(warm, chunk); });
    std::printf("warm decode of a %.0f s chunk: wall %.3f s, CPU %.3f s (real-time factor %.2f), %d interim results,"
                " final \"%s\"\n",
                seconds, decode.wall, decode.cpu, decode.cpu / seconds, interims, final.c_str());
  }
  return 0;
}
