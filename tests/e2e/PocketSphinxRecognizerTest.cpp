// Real PocketSphinx with the installed en-us model, on speech that espeak-ng speaks at test time. The
// recogniser is imprecise on synthetic speech, so checks look for some of the spoken words, not all.
#include "platform/linux/pocketsphinx/PocketSphinxRecognizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/AudioFileSamples.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/soxr/SoxrResampler.h"
#include "common/audio/WavFormat.h"
#include "quillet-dictate/transcription/SpeechAnalyzerTranscriber.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::platform::pocketsphinx {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kSentence = "the quick brown fox jumps over the lazy dog";
const std::vector<std::string> kSpokenWords = {"quick", "brown", "fox", "jumps", "lazy", "dog"};

// Runs a helper program to its end; answers whether it succeeded.
bool succeeded(const std::string& program, const std::vector<std::string>& arguments) {
  test::ChildProcess process(test::ChildProcess::pathOf(program), arguments, {}, {},
                             test::ChildProcess::StandardOutput::discarded);
  const auto status = process.waitForExit(std::chrono::seconds(60));
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

// How many of the spoken words `text` holds.
std::size_t spokenWordsIn(const std::string& text) {
  std::istringstream words(text);
  std::size_t count = 0;
  for (std::string word; words >> word;) count += std::size_t(std::count(kSpokenWords.begin(), kSpokenWords.end(), word));
  return count;
}

std::vector<std::uint8_t> bytesOf(const fs::path& path) {
  const std::string contents = test::readFile(path);
  return {contents.begin(), contents.end()};
}

class PocketSphinxRecognizerTest : public ::testing::Test {
 protected:
  // espeak-ng's own WAV (22.05 kHz) and the same speech as 16 kHz 16-bit samples, made once for the suite.
  static void SetUpTestSuite() {
    folder = std::make_unique<test::TemporaryDirectory>();
    espeakWav = folder->path() / "espeak.wav";
    const fs::path converted = folder->path() / "speech16k.wav";
    // Of espeak-ng's voices, this American one at a calm pace is the one the en-us model hears best; without
    // dither, sox converts it the same way every run.
    ASSERT_TRUE(succeeded("espeak-ng", {"-v", "en-us+f2", "-s", "150", "-w", espeakWav.string(), kSentence}));
    ASSERT_TRUE(succeeded("sox", {"-D", espeakWav.string(), "-r", "16000", "-c", "1", "-b", "16", converted.string()}));
    auto pcm = test::audioFilePcm16(converted);
    ASSERT_TRUE(pcm.has_value());
    speech = std::move(*pcm);
    recognizer = std::make_unique<PocketSphinxRecognizer>();
  }

  static void TearDownTestSuite() {
    recognizer.reset();
    folder.reset();
  }

  struct Recognition {
    Status outcome;
    std::vector<SpeechResult> results;
  };

  static Recognition recognize(SpeechRecognizer& engine, const std::vector<std::int16_t>& samples,
                               double sampleRate = 16000) {
    Recognition recognition;
    recognition.outcome = engine.recognize("en-US", {samples, sampleRate},
                                         [&](const SpeechResult& result) { recognition.results.push_back(result); });
    return recognition;
  }

  static double seconds(const std::vector<std::int16_t>& samples) { return double(samples.size()) / 16000.0; }

  static inline std::unique_ptr<test::TemporaryDirectory> folder;
  static inline fs::path espeakWav;
  static inline std::vector<std::int16_t> speech;
  static inline std::unique_ptr<PocketSphinxRecognizer> recognizer;
};

TEST_F(PocketSphinxRecognizerTest, TheInstalledEnglishModelIsListed) {
  EXPECT_THAT(recognizer->installedLocales(), Contains("en-US"));
  EXPECT_EQ(recognizer->preferredSampleRate(), 16000.0);
  EXPECT_THAT(recognizer->installHint("en-US"), HasSubstr("pocketsphinx-en-us"));
}

TEST_F(PocketSphinxRecognizerTest, SpeechGivesInterimResultsThenAFinalOneSharingTheSpokenWords) {
  const auto recognition = recognize(*recognizer, speech);
  ASSERT_EQ(recognition.outcome, quillet::succeeded());
  ASSERT_GE(recognition.results.size(), 2u);

  const auto& final = recognition.results.back();
  EXPECT_TRUE(final.isFinal);
  EXPECT_GE(spokenWordsIn(final.text), 2u) << final.text;
  EXPECT_EQ(final.range, (SpeechTimeRange{0, seconds(speech)}));

  std::string previousText;
  double previousEnd = 0;
  for (std::size_t index = 0; index + 1 < recognition.results.size(); ++index) {
    SCOPED_TRACE("interim result " + std::to_string(index));
    const auto& interim = recognition.results[index];
    EXPECT_FALSE(interim.isFinal);
    EXPECT_FALSE(interim.text.empty());
    EXPECT_NE(interim.text, previousText) << "an unchanged interim result was repeated";
    ASSERT_TRUE(interim.range.has_value());
    // Each covers the audio fed so far: whole pieces, or all of it.
    EXPECT_EQ(interim.range->start, 0.0);
    EXPECT_GT(interim.range->duration, previousEnd);
    const bool wholePieces = std::fmod(interim.range->duration, PocketSphinxRecognizer::kPieceSeconds) == 0.0;
    EXPECT_TRUE(wholePieces || interim.range->duration == seconds(speech)) << interim.range->duration;
    previousText = interim.text;
    previousEnd = interim.range->duration;
  }
}

TEST_F(PocketSphinxRecognizerTest, ConcurrentCallsAllSucceedWhateverTheDecoderLimit) {
  for (const std::size_t limit : {std::size_t(1), std::size_t(2)}) {
    SCOPED_TRACE("decoder limit " + std::to_string(limit));
    PocketSphinxRecognizer limited(PocketSphinxRecognizer::kDefaultModelRoot, limit);
    Recognition recognitions[2];
    std::vector<std::thread> threads;
    for (auto& recognition : recognitions) {
      threads.emplace_back([&] { recognition = recognize(limited, speech); });
    }
    for (auto& thread : threads) thread.join();
    for (const auto& recognition : recognitions) {
      ASSERT_EQ(recognition.outcome, quillet::succeeded());
      ASSERT_FALSE(recognition.results.empty());
      EXPECT_TRUE(recognition.results.back().isFinal);
      EXPECT_GE(spokenWordsIn(recognition.results.back().text), 1u) << recognition.results.back().text;
    }
  }
}

TEST_F(PocketSphinxRecognizerTest, MissingOrIncompleteModelsAreErrorsNotCrashes) {
  const fs::path model = fs::path(PocketSphinxRecognizer::kDefaultModelRoot) / "en-us";
  const fs::path incomplete = folder->path() / "incomplete";
  fs::create_directories(incomplete / "en-us" / "en-us");
  fs::create_symlink(model / "en-us.lm.bin", incomplete / "en-us" / "en-us.lm.bin");
  fs::create_symlink(model / "cmudict-en-us.dict", incomplete / "en-us" / "cmudict-en-us.dict");
  for (const char* part : {"mdef", "variances", "transition_matrices"}) {
    fs::create_symlink(model / "en-us" / part, incomplete / "en-us" / "en-us" / part);
  }
  fs::create_directories(folder->path() / "empty");

  const fs::path roots[] = {folder->path() / "does-not-exist", folder->path() / "empty", incomplete};
  for (const auto& root : roots) {
    SCOPED_TRACE(root.string());
    PocketSphinxRecognizer missing(root);
    EXPECT_THAT(missing.installedLocales(), IsEmpty());
    const auto recognition = recognize(missing, speech);
    EXPECT_EQ(recognition.outcome, Status(Error("no PocketSphinx model for en-US in " + (root / "en-us").string())));
    EXPECT_THAT(recognition.results, IsEmpty());
    EXPECT_THAT(missing.installHint("en-US"), HasSubstr("pocketsphinx-en-us"));
  }
}

TEST_F(PocketSphinxRecognizerTest, AudioAtAnotherRateOrLocaleIsRefused) {
  const auto wrongRate = recognize(*recognizer, speech, 48000);
  EXPECT_EQ(wrongRate.outcome, Status(Error("PocketSphinx takes 16000 Hz audio, not 48000 Hz")));
  EXPECT_THAT(wrongRate.results, IsEmpty());

  for (const char* locale : {"fr-FR", "en-us", "en_US", "", "../en-us", "en-US/../en-US"}) {
    SCOPED_TRACE(locale);
    const auto recognised = recognizer->recognize(locale, {speech, 16000}, [](const SpeechResult&) {
      ADD_FAILURE() << "a result for a locale without a model";
    });
    ASSERT_TRUE(recognised.failed());
    EXPECT_THAT(recognised.error().description(), HasSubstr("no PocketSphinx model for"));
  }
}

TEST_F(PocketSphinxRecognizerTest, SilenceAndEmptyBuffersGiveNoWordsAndNoError) {
  const std::vector<std::vector<std::int16_t>> buffers = {{}, std::vector<std::int16_t>(16000, 0)};
  for (const auto& buffer : buffers) {
    SCOPED_TRACE(std::to_string(buffer.size()) + " samples");
    const auto recognition = recognize(*recognizer, buffer);
    EXPECT_EQ(recognition.outcome, quillet::succeeded());
    for (const auto& result : recognition.results) EXPECT_EQ(spokenWordsIn(result.text), 0u) << result.text;
  }
}

TEST_F(PocketSphinxRecognizerTest, PocketSphinxWritesNothingToStandardError) {
  // A fresh instance loads a model, the chattiest thing PocketSphinx does.
  testing::internal::CaptureStderr();
  {
    PocketSphinxRecognizer fresh;
    const auto recognition = recognize(fresh, speech);
    EXPECT_EQ(recognition.outcome, quillet::succeeded());
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(PocketSphinxRecognizerTest, TheTranscriberTranscribesAChunkEndToEnd) {
  test::TemporaryDirectory temporary;
  platform::fake::VirtualMainLoop clock;
  std::string logged;
  const dictate::VxLog log(temporary.path() / "vessio.log", clock, [&](std::string_view line) { logged.append(line); });
  sndfile::SndfileAudioFiles files;
  const dictate::SpeechAnalyzerTranscriber transcriber(*recognizer, files, soxr::SoxrResampler::factory(), log,
                                                       temporary.path());
  std::vector<std::uint8_t> pcm;
  for (const std::int16_t sample : speech) {
    pcm.push_back(std::uint8_t(std::uint16_t(sample) & 0xFF));
    pcm.push_back(std::uint8_t(std::uint16_t(sample) >> 8));
  }
  const struct {
    const char* description;
    std::vector<std::uint8_t> wav;
  } cases[] = {
      {"a 16 kHz chunk of the microphone streamer", audio::WavFormat::buildWAV(pcm)},
      {"espeak-ng's 22.05 kHz file, resampled by libsoxr", bytesOf(espeakWav)},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    const auto outcome = transcriber.transcribe(testCase.wav, "en-US");
    ASSERT_TRUE(outcome.hasValue()) << outcome.error().description();
    EXPECT_GE(spokenWordsIn(outcome.value()), 2u) << outcome.value();
  }
  for (const auto& entry : fs::directory_iterator(temporary.path())) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("ql-dictate-")) << entry.path();
  }
}

}  // namespace
}  // namespace quillet::platform::pocketsphinx
