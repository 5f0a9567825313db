#include "platform/linux/sndfile/SndfileAudioFiles.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/FileContents.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::platform::sndfile {
namespace {

namespace fs = std::filesystem;

enum class SampleType { pcm16, float32 };

// Interleaved test audio whose values are exact in both 16-bit and float storage.
struct TestAudio {
  SampleType type = SampleType::pcm16;
  int sampleRate = 16000;
  int channelCount = 1;
  std::size_t frameCount = 0;

  [[nodiscard]] std::int16_t pcmValue(std::size_t frame, std::size_t channel) const {
    return std::int16_t(int((frame * 977 + channel * 12011) % 65536) - 32768);
  }
  [[nodiscard]] float expected(std::size_t frame, std::size_t channel) const {
    return float(pcmValue(frame, channel)) / 32768.0f;
  }
};

// Writes `audio` as a WAV file with libsndfile; 16-bit samples are written as integers so no scaling is involved.
void writeWav(const fs::path& path, const TestAudio& audio) {
  SF_INFO info{};
  info.samplerate = audio.sampleRate;
  info.channels = audio.channelCount;
  info.format = SF_FORMAT_WAV | (audio.type == SampleType::pcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  const auto channels = std::size_t(audio.channelCount);
  std::vector<std::int16_t> integers;
  std::vector<float> floats;
  for (std::size_t frame = 0; frame < audio.frameCount; ++frame) {
    for (std::size_t channel = 0; channel < channels; ++channel) {
      integers.push_back(audio.pcmValue(frame, channel));
      floats.push_back(audio.expected(frame, channel));
    }
  }
  const auto frames = sf_count_t(audio.frameCount);
  const sf_count_t written = audio.type == SampleType::pcm16 ? sf_writef_short(file, integers.data(), frames)
                                                              : sf_writef_float(file, floats.data(), frames);
  EXPECT_EQ(written, frames);
  sf_close(file);
}

std::vector<std::uint8_t> bytesOf(const fs::path& path) {
  const std::string contents = test::readFile(path);
  return {contents.begin(), contents.end()};
}

// The samples read, or none (and a failure of the test) when the read failed.
audio::AudioSamples valueOf(const Expected<audio::AudioSamples, AudioFileError>& result) {
  if (result.hasValue()) return result.value();
  ADD_FAILURE() << result.error().description;
  return {};
}

class SndfileAudioFilesTest : public ::testing::Test {
 protected:
  // The same file opened from its path and from its bytes.
  std::vector<std::unique_ptr<AudioFileReader>> openBothWays(const TestAudio& audio) {
    const fs::path path = folder.path() / "audio.wav";
    writeWav(path, audio);
    std::vector<std::unique_ptr<AudioFileReader>> files;
    const auto keep = [&](Expected<std::unique_ptr<AudioFileReader>, AudioFileError> opened) {
      if (opened.failed()) {
        ADD_FAILURE() << opened.error().description;
        return;
      }
      files.push_back(std::move(opened).value());
    };
    keep(audioFiles.open(path));
    keep(audioFiles.openBytes(bytesOf(path)));
    return files;
  }

  SndfileAudioFiles audioFiles;
  test::TemporaryDirectory folder;
};

TEST_F(SndfileAudioFilesTest, ReadsSixteenBitAndFloatAudioOfAnyRateAndChannelCount) {
  const struct {
    const char* description;
    TestAudio audio;
  } cases[] = {
      {"16-bit mono at 16 kHz", {SampleType::pcm16, 16000, 1, 1000}},
      {"16-bit stereo at 44.1 kHz", {SampleType::pcm16, 44100, 2, 777}},
      {"float mono at 48 kHz", {SampleType::float32, 48000, 1, 1200}},
      {"float stereo at 22.05 kHz", {SampleType::float32, 22050, 2, 501}},
      {"16-bit with three channels at 8 kHz", {SampleType::pcm16, 8000, 3, 64}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    const TestAudio& audio = testCase.audio;
    auto files = openBothWays(audio);
    ASSERT_EQ(files.size(), 2u);
    for (auto& file : files) {
      EXPECT_EQ(file->sampleRate(), double(audio.sampleRate));
      EXPECT_EQ(file->channelCount(), audio.channelCount);
      EXPECT_EQ(file->frameCount(), audio.frameCount);
      const audio::AudioSamples samples = valueOf(file->readRemaining());
      EXPECT_EQ(samples.sampleRate, double(audio.sampleRate));
      ASSERT_EQ(samples.channels.size(), std::size_t(audio.channelCount));
      ASSERT_EQ(samples.frameCount(), audio.frameCount);
      for (std::size_t channel = 0; channel < samples.channels.size(); ++channel) {
        for (std::size_t frame = 0; frame < audio.frameCount; ++frame) {
          ASSERT_EQ(samples.channels[channel][frame], audio.expected(frame, channel))
              << "channel " << channel << " frame " << frame;
        }
      }
    }
  }
}

TEST_F(SndfileAudioFilesTest, BlocksFollowEachOtherUntilTheEnd) {
  const TestAudio audio{SampleType::pcm16, 16000, 2, 10};
  auto files = openBothWays(audio);
  ASSERT_EQ(files.size(), 2u);
  for (auto& file : files) {
    std::vector<std::size_t> blockSizes;
    std::vector<float> secondChannel;
    for (int block = 0; block < 5; ++block) {
      const audio::AudioSamples samples = valueOf(file->readFrames(4));
      blockSizes.push_back(samples.frameCount());
      if (samples.channels.size() == 2) {
        secondChannel.insert(secondChannel.end(), samples.channels[1].begin(), samples.channels[1].end());
      }
    }
    EXPECT_EQ(blockSizes, (std::vector<std::size_t>{4, 4, 2, 0, 0}));
    ASSERT_EQ(secondChannel.size(), 10u);
    for (std::size_t frame = 0; frame < 10; ++frame) EXPECT_EQ(secondChannel[frame], audio.expected(frame, 1));
    EXPECT_EQ(valueOf(file->readRemaining()).frameCount(), 0u);
  }
}

TEST_F(SndfileAudioFilesTest, AFileWithAnEmptyDataChunkHasNoFrames) {
  auto files = openBothWays({SampleType::pcm16, 16000, 1, 0});
  ASSERT_EQ(files.size(), 2u);
  for (auto& file : files) {
    EXPECT_EQ(file->frameCount(), 0u);
    EXPECT_EQ(file->sampleRate(), 16000.0);
    const audio::AudioSamples samples = valueOf(file->readRemaining());
    EXPECT_EQ(samples.frameCount(), 0u);
  }
}

TEST_F(SndfileAudioFilesTest, UnreadableInputIsAnErrorWithAReason) {
  const fs::path valid = folder.path() / "valid.wav";
  writeWav(valid, {SampleType::pcm16, 16000, 1, 100});
  const auto validBytes = bytesOf(valid);
  const std::string text = "this is not audio at all, only some words of text";

  const struct {
    const char* description;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"no bytes", {}},
      {"text", {text.begin(), text.end()}},
      {"a header cut short", {validBytes.begin(), validBytes.begin() + 20}},
      {"a RIFF header with nothing behind it", {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.description);
    const auto fromBytes = audioFiles.openBytes(testCase.bytes);
    ASSERT_TRUE(fromBytes.failed());
    EXPECT_NE(fromBytes.error().description.find("cannot read audio data: "), std::string::npos);

    const fs::path path = folder.path() / "garbage.wav";
    test::writeFile(path, std::string(testCase.bytes.begin(), testCase.bytes.end()));
    const auto fromPath = audioFiles.open(path);
    ASSERT_TRUE(fromPath.failed());
    EXPECT_NE(fromPath.error().description.find(path.string()), std::string::npos);
  }
}

TEST_F(SndfileAudioFilesTest, AMissingFileSaysWhy) {
  const fs::path path = folder.path() / "missing.wav";
  const auto opened = audioFiles.open(path);
  ASSERT_TRUE(opened.failed());
  EXPECT_EQ(opened.error().description,
            "cannot read audio file " + path.string() + ": No such file or directory");
}

}  // namespace
}  // namespace quillet::platform::sndfile
