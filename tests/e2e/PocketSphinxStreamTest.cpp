// The streaming recogniser and the on-device capture transcribers on real PocketSphinx with the installed
// en-us model, fed espeak-ng speech. Synthetic speech is recognised imprecisely, so the checks look at the
// shape of the results (settled per utterance, placed where the speech is), not at exact words.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <future>
#include <memory>
#include <variant>
#include <thread>
#include <nlohmann/json.hpp>

#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/pocketsphinx/PocketSphinxRecognizer.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "quillet-capture/transcription/BufferedBatchTranscriber.h"
#include "quillet-capture/protocol/EventWriter.h"
#include "quillet-capture/transcription/ModernTranscriber.h"
#include "tests/support/SpokenSpeech16k.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/unit/capture/TestPipe.h"

namespace quillet::capture {
namespace {

using platform::SpeechResult;
using platform::pocketsphinx::PocketSphinxRecognizer;

constexpr double kRate = 16000;
constexpr double kPauseSeconds = 1.5;
// Decoding runs at about real time on a busy machine; this only catches a stream that never ends.
constexpr auto kDecodeLimit = std::chrono::seconds(180);

std::vector<std::int16_t> pcm16(const std::vector<float>& samples) {
  std::vector<std::int16_t> converted;
  converted.reserve(samples.size());
  for (const float sample : samples) converted.push_back(std::int16_t(std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767.0f)));
  return converted;
}

class PocketSphinxStreamTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = std::make_unique<test::TemporaryDirectory>();
    auto speech = test::spokenSpeech16k(folder->path(),
                                        {"let us start with the budget for next year",
                                         "the quick brown fox jumps over the lazy dog"},
                                        kPauseSeconds);
    ASSERT_TRUE(speech) << "espeak-ng or sox failed";
    twoSentences = std::move(*speech);
    recognizer = std::make_unique<PocketSphinxRecognizer>(PocketSphinxRecognizer::kDefaultModelRoot, 4);
  }

  static void TearDownTestSuite() {
    recognizer.reset();
    folder.reset();
  }

  // Feeds `samples` to `transcriber` as 100 ms float buffers at 16 kHz, each 100 ms of virtual time later.
  template <class Transcriber>
  static void feed(Transcriber& transcriber, const std::vector<float>& samples, platform::fake::VirtualMainLoop& loop) {
    constexpr std::size_t kBuffer = 1600;
    for (std::size_t start = 0; start < samples.size(); start += kBuffer) {
      platform::AudioBuffer buffer;
      buffer.channels = {samples.data() + start};
      buffer.frameCount = std::min(kBuffer, samples.size() - start);
      buffer.format = {kRate, 1};
      transcriber.consume(buffer);
      loop.advance(0.1);
    }
  }

  // Reads the chunk events written to `pipe` until `count` lines were read.
  static std::vector<nlohmann::json> readEvents(testing::TestPipe& pipe, std::size_t count) {
    std::vector<nlohmann::json> events;
    for (std::size_t index = 0; index < count; ++index) events.push_back(nlohmann::json::parse(pipe.readLine()));
    return events;
  }

  static inline std::unique_ptr<test::TemporaryDirectory> folder;
  static inline std::vector<float> twoSentences;
  static inline std::unique_ptr<PocketSphinxRecognizer> recognizer;
};

// Every stream holds a decoder for as long as it lives: an opening beyond the limit waits a bounded time and
// then fails, and one that comes free is taken again.
TEST(PocketSphinxStreamLimitTest, AnOpeningWithEveryDecoderInUseFailsAfterItsPatienceAndSucceedsOnceOneIsBack) {
  PocketSphinxRecognizer oneDecoder(PocketSphinxRecognizer::kDefaultModelRoot, 1);
  auto first = oneDecoder.openStream("en-US", {});
  ASSERT_TRUE(first.hasValue());

  const auto began = std::chrono::steady_clock::now();
  const auto second = oneDecoder.openStream("en-US", {});
  const auto waited = std::chrono::steady_clock::now() - began;
  ASSERT_TRUE(second.failed()) << "a second decoder was lent beyond the limit";
  EXPECT_EQ(second.error(), Error("all 1 speech decoders stayed in use for 5 s"));
  EXPECT_GE(waited, PocketSphinxRecognizer::kStreamDecoderPatience);

  // Given back while another opening waits, the decoder goes to that opening.
  auto waiting = std::async(std::launch::async, [&oneDecoder] { return oneDecoder.openStream("en-US", {}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  first = Error("released");
  const auto third = waiting.get();
  EXPECT_TRUE(third.hasValue());
}

TEST_F(PocketSphinxStreamTest, TwoSentencesWithAPauseGiveSettledResultsInOrderWhereTheSpeechIs) {
  std::mutex mutex;
  std::vector<SpeechResult> results;
  std::promise<Status> ended;
  auto opened = recognizer->openStream("en-US", {[&](const SpeechResult& result) {
                                                   std::lock_guard lock(mutex);
                                                   results.push_back(result);
                                                 },
                                                 [&](Status ending) { ended.set_value(std::move(ending)); }});
  ASSERT_TRUE(opened.hasValue()) << opened.error();
  auto& stream = opened.value();
  const auto samples = pcm16(twoSentences);
  for (std::size_t start = 0; start < samples.size(); start += 1600) {
    stream->push(std::span(samples).subspan(start, std::min<std::size_t>(1600, samples.size() - start)));
  }
  stream->finish();
  auto end = ended.get_future();
  ASSERT_EQ(end.wait_for(kDecodeLimit), std::future_status::ready);
  EXPECT_EQ(end.get(), succeeded());
  stream.reset();

  std::vector<SpeechResult> settled;
  for (const auto& result : results) {
    ASSERT_TRUE(result.range.has_value());
    EXPECT_FALSE(result.text.empty());
    if (result.isFinal) settled.push_back(result);
  }
  ASSERT_EQ(settled.size(), 2u) << "one settled result per sentence";
  const double total = double(samples.size()) / kRate;
  double previousEnd = 0;
  for (const auto& result : settled) {
    SCOPED_TRACE(result.text);
    EXPECT_GE(result.range->start, previousEnd);
    EXPECT_GT(result.range->duration, 1.0) << "a sentence lasts about two and a half seconds";
    EXPECT_LE(result.range->start + result.range->duration, total);
    previousEnd = result.range->start + result.range->duration;
  }
  // The pause lies between the two sentences.
  EXPECT_GE(settled[1].range->start - (settled[0].range->start + settled[0].range->duration), kPauseSeconds / 2);
  EXPECT_GT(results.size(), settled.size()) << "provisional results come while each sentence is decoded";
}

TEST_F(PocketSphinxStreamTest, TheStreamingTranscriberWritesChunksForYouWithIncreasingTimes) {
  testing::TestPipe pipe;
  EventWriter writer(pipe.writeEnd(), [](std::string_view) {});
  platform::fake::VirtualMainLoop loop;
  ModelInstallLock installs(*recognizer, [](std::string_view) {});
  auto transcriber = std::make_shared<ModernTranscriber>(
      loop.monotonicNow(),
      ModernTranscriber::Services{*recognizer, installs, loop, platform::soxr::SoxrResampler::factory(),
                                  [&writer](Event event, std::function<void()> written) {
                                    writer.emit(std::move(event), std::move(written));
                                  },
                                  [](std::string_view) {}});
  std::promise<Expected<void, CaptureError>> started;
  transcriber->start(Speaker::you, "en-US", [&](Expected<void, CaptureError> failure) { started.set_value(failure); });
  auto start = started.get_future();
  ASSERT_TRUE(loop.runUntil([&] { return start.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                            std::chrono::seconds(60)));
  ASSERT_TRUE(start.get().hasValue());

  feed(*transcriber, twoSentences, loop);
  bool stopped = false;
  transcriber->stop([&] { stopped = true; });
  // Virtual time stands still, so the stop's deadlines cannot cut the decoding short.
  ASSERT_TRUE(loop.runUntil([&] { return stopped; }, kDecodeLimit));
  transcriber.reset();
  const Event marker = Event::stopped("marker");
  writer.emit(marker, [] {});

  std::vector<nlohmann::json> chunks;
  for (;;) {
    auto event = nlohmann::json::parse(pipe.readLine());
    if (event["type"] == "stopped") break;
    ASSERT_EQ(event["type"], "chunk");
    chunks.push_back(std::move(event));
  }
  ASSERT_FALSE(chunks.empty());
  std::int64_t previousFinalEnd = 0;
  std::size_t finals = 0;
  for (const auto& chunk : chunks) {
    SCOPED_TRACE(chunk.dump());
    EXPECT_EQ(chunk["speaker"], "you");
    EXPECT_FALSE(chunk["text"].get<std::string>().empty());
    EXPECT_LE(chunk["start"].get<std::int64_t>(), chunk["end"].get<std::int64_t>());
    if (chunk["isFinal"].get<bool>()) {
      ++finals;
      EXPECT_GE(chunk["start"].get<std::int64_t>(), previousFinalEnd);
      previousFinalEnd = chunk["end"].get<std::int64_t>();
    }
  }
  EXPECT_EQ(finals, 2u);
  EXPECT_TRUE(chunks.back()["isFinal"].get<bool>()) << "the last sentence settles during the stop";
}

TEST_F(PocketSphinxStreamTest, TheBatchEngineWritesFinalChunksPerWindow) {
  test::TemporaryDirectory scratch;
  auto speech = test::spokenSpeech16k(scratch.path(),
                                      {"let us start with the budget for next year",
                                       "the quick brown fox jumps over the lazy dog",
                                       "we will meet again on monday morning",
                                       "thank you all for coming today",
                                       "please send the notes to everyone"},
                                      2.0);
  ASSERT_TRUE(speech);
  ASSERT_GT(double(speech->size()) / kRate, 17.0) << "enough for one window and a final flush";

  platform::fake::VirtualMainLoop loop;
  std::mutex mutex;
  std::vector<Chunk> chunks;
  auto transcriber = std::make_shared<BufferedBatchTranscriber>(
      loop.monotonicNow(),
      BufferedBatchTranscriber::Services{loop, *recognizer, platform::soxr::SoxrResampler::factory(),
                                         [&](Event event, std::function<void()> written) {
                                           {
                                             std::lock_guard lock(mutex);
                                             chunks.push_back(std::get<Chunk>(event.payload()));
                                           }
                                           written();
                                         },
                                         [](std::string_view) {}});
  Expected<void, CaptureError> failure{CaptureError{}};
  transcriber->start(Speaker::others, "en-US", [&](Expected<void, CaptureError> result) { failure = std::move(result); });
  ASSERT_TRUE(failure.hasValue()) << failure.error();
  feed(*transcriber, *speech, loop);
  std::promise<void> stopped;
  transcriber->stop([&] { stopped.set_value(); });
  ASSERT_EQ(stopped.get_future().wait_for(kDecodeLimit), std::future_status::ready);

  std::lock_guard lock(mutex);
  ASSERT_GE(chunks.size(), 2u);
  bool firstWindow = false;
  bool lastWindow = false;
  for (const auto& chunk : chunks) {
    SCOPED_TRACE(chunk.text);
    EXPECT_TRUE(chunk.isFinal);
    EXPECT_EQ(chunk.speaker, Speaker::others);
    EXPECT_FALSE(chunk.text.empty());
    EXPECT_LE(chunk.start, chunk.end);
    firstWindow = firstWindow || chunk.end <= 15000;
    lastWindow = lastWindow || chunk.start >= 14000 - 1000;
  }
  EXPECT_TRUE(firstWindow) << "the first 15 s window gave chunks";
  EXPECT_TRUE(lastWindow) << "the final flush gave chunks";
}

}  // namespace
}  // namespace quillet::capture
