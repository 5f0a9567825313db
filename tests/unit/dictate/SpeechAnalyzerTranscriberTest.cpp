#include "quillet-dictate/transcription/SpeechAnalyzerTranscriber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cmath>
#include <mutex>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/linux/sndfile/SndfileAudioFiles.h"
#include "platform/fake/FakeResampler.h"
#include "platform/fake/ScriptedSpeechRecognizer.h"
#include "platform/fake/VirtualMainLoop.h"
#include "common/audio/WavFormat.h"
#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using platform::SpeechResult;
using Script = platform::fake::ScriptedSpeechRecognizer::Script;

SpeechResult interimResult(std::string text) { return {std::move(text), false, std::nullopt}; }
SpeechResult finalResult(std::string text) { return {std::move(text), true, std::nullopt}; }

std::vector<std::uint8_t> littleEndian(const std::vector<std::int16_t>& samples) {
  std::vector<std::uint8_t> bytes;
  for (const std::int16_t sample : samples) {
    const auto value = std::uint16_t(sample);
    bytes.push_back(std::uint8_t(value & 0xFF));
    bytes.push_back(std::uint8_t(value >> 8));
  }
  return bytes;
}

// A 16 kHz mono chunk as the microphone streamer makes it.
std::vector<std::uint8_t> chunkOf(const std::vector<std::int16_t>& samples) {
  return audio::WavFormat::buildWAV(littleEndian(samples));
}

// A 16-bit WAV of another rate and channel count: the chunk header with its format fields rewritten.
std::vector<std::uint8_t> wavOf(const std::vector<std::int16_t>& interleaved, std::uint32_t sampleRate,
                                std::uint16_t channelCount) {
  auto wav = audio::WavFormat::buildWAV(littleEndian(interleaved));
  const auto put = [&](std::size_t offset, auto bytes) { std::copy(bytes.begin(), bytes.end(), wav.begin() + long(offset)); };
  put(22, audio::WavFormat::uint16LE(channelCount));
  put(24, audio::WavFormat::uint32LE(sampleRate));
  put(28, audio::WavFormat::uint32LE(sampleRate * channelCount * 2));
  put(32, audio::WavFormat::uint16LE(std::uint16_t(channelCount * 2)));
  return wav;
}

const std::vector<std::int16_t> kSpeech = {0, 1200, -3400, 32767, -32768, 17, -1, 5000};

class SpeechAnalyzerTranscriberTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_THAT(chunkFilesIn(folder.path()), IsEmpty()) << "a chunk file outlived its call"; }

  static std::vector<std::string> chunkFilesIn(const fs::path& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("ql-dictate-") && name.ends_with(".wav")) names.push_back(name);
    }
    return names;
  }

  AIOutcome<std::string> transcribe(const std::vector<std::uint8_t>& wav, std::string_view locale = "en-US") {
    return transcriber.transcribe(wav, locale);
  }

  // Log messages without their time stamps.
  std::vector<std::string> messages() const {
    std::vector<std::string> result;
    for (std::size_t begin = 0; begin < logged.size();) {
      const std::size_t end = logged.find('\n', begin);
      const std::size_t messageStart = logged.find("] ", begin) + 2;
      result.push_back(logged.substr(messageStart, end - messageStart));
      begin = end + 1;
    }
    return result;
  }

  static std::string errorOf(const AIOutcome<std::string>& outcome) {
    return outcome.failed() ? outcome.error().description() : "(no error: \"" + outcome.value() + "\")";
  }

  test::TemporaryDirectory folder;
  test::TemporaryDirectory logFolder;
  platform::fake::VirtualMainLoop clock;
  std::string logged;
  VxLog log{logFolder.path() / "vessio.log", clock, [this](std::string_view line) { logged.append(line); }};
  platform::fake::ScriptedSpeechRecognizer recognizer;
  std::atomic<int> resamplersBuilt{0};
  bool resamplerAvailable = true;
  platform::sndfile::SndfileAudioFiles files;
  SpeechAnalyzerTranscriber transcriber{
      recognizer, files,
      [this](double inputRate, double outputRate) -> std::unique_ptr<platform::Resampler> {
        if (!resamplerAvailable) return nullptr;
        ++resamplersBuilt;
        return std::make_unique<platform::fake::FakeResampler>(inputRate, outputRate);
      },
      log, folder.path()};
};

TEST_F(SpeechAnalyzerTranscriberTest, ResultsBecomeTheTranscript) {
  const std::string recovered11 = "🍎 recovered volatile partial (11 chars) — no final emitted";
  const struct {
    const char* description;
    Script script;
    const char* expected;
    std::vector<std::string> expectedLog;
  } cases[] = {
      {"only interim results: the longest stands in",
       {{interimResult("hel"), interimResult("hello wor"), interimResult("hello world")}},
       "hello world",
       {recovered11}},
      {"final results are joined with single spaces", {{finalResult("hello"), finalResult("world")}}, "hello world", {}},
      {"finals win over a longer interim",
       {{interimResult("hello world and then some"), finalResult("hello"), finalResult("world")}},
       "hello world",
       {}},
      {"blank results are ignored",
       {{interimResult("   "), finalResult("hello"), finalResult(" \n "), interimResult("\t"), finalResult("world")}},
       "hello world",
       {}},
      {"the joined finals are trimmed", {{finalResult(" hello"), finalResult("world\n")}}, "hello world", {}},
      {"a shorter interim later does not replace a longer one",
       {{interimResult("hello world"), interimResult("hello")}},
       "hello world",
       {recovered11}},
      {"the recovered interim is trimmed", {{interimResult("  hello world \n")}}, "hello world", {recovered11}},
      {"interims are compared by user-perceived characters, not bytes",
       {{interimResult("e\u0301e\u0301e\u0301"), interimResult("abcd")}},
       "abcd",
       {"🍎 recovered volatile partial (4 chars) — no final emitted"}},
      {"the logged count is of user-perceived characters",
       {{interimResult("👍🏽 ok")}},
       "👍🏽 ok",
       {"🍎 recovered volatile partial (4 chars) — no final emitted"}},
      {"no results at all", {}, "", {}},
      {"only blank results", {{finalResult(" "), interimResult("\n")}}, "", {}},
      {"results that break off answer empty text, not an error",
       {{interimResult("hello"), finalResult("hello world")}, Error("the results stream broke")},
       "",
       {}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    logged.clear();
    recognizer.enqueue(testCase.script);
    const auto outcome = transcribe(chunkOf(kSpeech));
    ASSERT_TRUE(outcome.hasValue()) << errorOf(outcome);
    EXPECT_EQ(outcome.value(), testCase.expected);
    EXPECT_EQ(messages(), testCase.expectedLog);
  }
  EXPECT_EQ(recognizer.calls().size(), std::size(cases));
}

TEST_F(SpeechAnalyzerTranscriberTest, AChunkWithoutSamplesIsEmptyWithoutRecognition) {
  recognizer.enqueue({{finalResult("never heard")}});
  const auto outcome = transcribe(chunkOf({}));
  ASSERT_TRUE(outcome.hasValue()) << errorOf(outcome);
  EXPECT_EQ(outcome.value(), "");
  EXPECT_THAT(recognizer.calls(), IsEmpty());
}

TEST_F(SpeechAnalyzerTranscriberTest, SixteenKilohertzMonoReachesTheRecognizerUnchanged) {
  (void)transcribe(chunkOf(kSpeech));
  const auto calls = recognizer.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].locale, "en-US");
  EXPECT_EQ(calls[0].sampleRate, 16000.0);
  EXPECT_EQ(calls[0].samples, kSpeech);
  EXPECT_EQ(resamplersBuilt, 0);
}

TEST_F(SpeechAnalyzerTranscriberTest, OtherFormatsAreMixedDownAndResampledToWhatTheRecognizerTakes) {
  // Left at half scale, right at a tenth below zero: their average is 0.2.
  const auto stereoFrames = [](std::size_t frames) {
    std::vector<std::int16_t> interleaved;
    for (std::size_t frame = 0; frame < frames; ++frame) interleaved.insert(interleaved.end(), {16384, -3277});
    return interleaved;
  };
  const struct {
    const char* description;
    std::vector<std::uint8_t> wav;
    double recognizerRate;
    std::size_t expectedSamples;
    int expectedResamplers;
  } cases[] = {
      {"48 kHz stereo", wavOf(stereoFrames(4800), 48000, 2), 16000, 1600, 1},
      {"16 kHz stereo is only mixed down", wavOf(stereoFrames(1600), 16000, 2), 16000, 1600, 0},
      {"a recognizer that takes 8 kHz", wavOf(stereoFrames(4800), 48000, 2), 8000, 800, 1},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    recognizer.sampleRate = testCase.recognizerRate;
    const std::size_t callsBefore = recognizer.calls().size();
    resamplersBuilt = 0;
    const auto outcome = transcribe(testCase.wav);
    ASSERT_TRUE(outcome.hasValue()) << errorOf(outcome);
    EXPECT_EQ(resamplersBuilt, testCase.expectedResamplers);
    const auto calls = recognizer.calls();
    ASSERT_EQ(calls.size(), callsBefore + 1);
    EXPECT_EQ(calls.back().sampleRate, testCase.recognizerRate);
    ASSERT_EQ(calls.back().samples.size(), testCase.expectedSamples);
    for (const std::int16_t sample : calls.back().samples) ASSERT_NEAR(sample, 0.2 * 32767, 2);
  }
}

TEST_F(SpeechAnalyzerTranscriberTest, FailuresBeforeRecognitionResultsEndTheCallWithAnError) {
  const struct {
    const char* description;
    std::function<void()> arrange;
    std::vector<std::uint8_t> wav;
    std::vector<std::string> expectedInError;
    bool reachesRecognizer = false;
  } cases[] = {
      {"the locale's model is missing",
       [&] { recognizer.locales = {"fr-FR"}; },
       chunkOf(kSpeech),
       {"speechanalyzer: ", "en-US", "install the scripted model en-US"}},
      {"no locale is installed at all", [&] { recognizer.locales = {}; }, chunkOf(kSpeech), {"en-US"}},
      {"the recognizer fails before any result",
       [&] { recognizer.enqueue({{}, Error("the engine broke")}); },
       chunkOf(kSpeech),
       {"speechanalyzer: the engine broke"},
       true},
      {"the chunk is not audio", [] {}, {'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'}, {"speechanalyzer: cannot read audio file"}},
      {"no converter for the chunk's rate",
       [&] { resamplerAvailable = false; },
       wavOf(std::vector<std::int16_t>(960, 100), 48000, 1),
       {"speechanalyzer: cannot convert 48000 Hz audio to 16000 Hz"}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    recognizer.locales = {"en-US"};
    resamplerAvailable = true;
    testCase.arrange();
    const std::size_t callsBefore = recognizer.calls().size();
    const auto outcome = transcribe(testCase.wav);
    ASSERT_TRUE(outcome.failed()) << "answered " << outcome.value();
    const auto& failure = outcome.error();
    ASSERT_TRUE(std::holds_alternative<VessioError>(failure.error));
    EXPECT_EQ(std::get<VessioError>(failure.error).kind, VessioError::Kind::api);
    for (const auto& part : testCase.expectedInError) EXPECT_THAT(failure.description(), HasSubstr(part));
    EXPECT_EQ(recognizer.calls().size(), callsBefore + (testCase.reachesRecognizer ? 1 : 0));
    EXPECT_THAT(chunkFilesIn(folder.path()), IsEmpty());
  }
}

TEST_F(SpeechAnalyzerTranscriberTest, AFailedConversionIsAnError) {
  recognizer.duringRecognition = [] { ADD_FAILURE() << "audio that could not be converted was recognised"; };
  const auto wav = wavOf(std::vector<std::int16_t>(960, 100), 48000, 1);
  // The resampler is built inside the call, so its failure is scripted as it is built.
  SpeechAnalyzerTranscriber failing(
      recognizer, files,
      [](double inputRate, double outputRate) -> std::unique_ptr<platform::Resampler> {
        auto resampler = std::make_unique<platform::fake::FakeResampler>(inputRate, outputRate);
        resampler->failNext = Error("soxr said no");
        return resampler;
      },
      log, folder.path());
  const auto outcome = failing.transcribe(wav, "en-US");
  EXPECT_EQ(errorOf(outcome), "speechanalyzer: audio conversion failed: soxr said no");
}

TEST_F(SpeechAnalyzerTranscriberTest, AnUnwritableTemporaryFolderIsAnError) {
  SpeechAnalyzerTranscriber homeless(recognizer, files, platform::fake::FakeResampler::factory(), log,
                                     folder.path() / "missing");
  const auto outcome = homeless.transcribe(chunkOf(kSpeech), "en-US");
  EXPECT_EQ(errorOf(outcome), "speechanalyzer: cannot write the chunk file: No such file or directory");
  EXPECT_THAT(recognizer.calls(), IsEmpty());
}

TEST_F(SpeechAnalyzerTranscriberTest, TheChunkFileIsPrivateUniquelyNamedAndHoldsTheChunk) {
  const auto wav = chunkOf(kSpeech);
  std::vector<std::string> seen;
  recognizer.duringRecognition = [&] {
    for (const auto& name : chunkFilesIn(folder.path())) {
      seen.push_back(name);
      struct stat status {};
      ASSERT_EQ(::lstat((folder.path() / name).c_str(), &status), 0);
      EXPECT_TRUE(S_ISREG(status.st_mode));
      EXPECT_EQ(status.st_mode & 0777, 0600u);
      EXPECT_EQ(test::readFile(folder.path() / name), std::string(wav.begin(), wav.end()));
    }
  };
  (void)transcribe(wav);
  (void)transcribe(wav);
  ASSERT_EQ(seen.size(), 2u);
  const std::regex uuidName("ql-dictate-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\.wav");
  for (const auto& name : seen) EXPECT_TRUE(std::regex_match(name, uuidName)) << name;
  EXPECT_NE(seen[0], seen[1]);
}

TEST_F(SpeechAnalyzerTranscriberTest, ConcurrentCallsEachUseTheirOwnFile) {
  std::mutex mutex;
  std::set<std::string> names;
  recognizer.duringRecognition = [&] {
    std::lock_guard lock(mutex);
    for (const auto& name : chunkFilesIn(folder.path())) names.insert(name);
  };
  const auto wav = chunkOf(kSpeech);
  std::atomic<int> succeeded{0};
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 4; ++thread) {
    threads.emplace_back([&] {
      for (int call = 0; call < 5; ++call) {
        if (transcriber.transcribe(wav, "en-US").hasValue()) ++succeeded;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(succeeded, 20);
  EXPECT_EQ(recognizer.calls().size(), 20u);
  EXPECT_EQ(names.size(), 20u);
}

}  // namespace
}  // namespace quillet::dictate
