#include <gtest/gtest.h>

#include <map>
#include <string>

#include "quillet-capture/transcription/ChunkingSettings.h"

namespace quillet::capture {
namespace {

TEST(ChunkingSettingsTest, ReadsWholeDecimalNumbersOnly) {
  static const struct {
    const char* text;
    std::optional<std::int64_t> expected;
  } cases[] = {
      {"0", 0},
      {"600", 600},
      {"+42", 42},
      {"-42", -42},
      {"007", 7},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"+-5", std::nullopt},
      {"--5", std::nullopt},
      {"abc", std::nullopt},
      {"12a", std::nullopt},
      {" 12", std::nullopt},
      {"12 ", std::nullopt},
      {"1.5", std::nullopt},
      {"1e3", std::nullopt},
      {"0x10", std::nullopt},
      {"\xD9\xA3", std::nullopt},  // ARABIC-INDIC DIGIT THREE is not an ASCII digit
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(ChunkingSettings::wholeNumber(testCase.text), testCase.expected) << '"' << testCase.text << '"';
  }
}

TEST(ChunkingSettingsTest, EnvironmentOverridesTheDefaults) {
  using Environment = std::map<std::string, std::string>;
  static const struct {
    const char* name;
    Environment environment;
    ChunkingSettings expected;
  } cases[] = {
      {"nothing set", {}, {600, 1000, 25000, 350}},
      {"valid values",
       {{"QL_VAD_SILENCE_MS", "800"},
        {"QL_VAD_MIN_SPEECH_MS", "+1500"},
        {"QL_VAD_MAX_CHUNK_MS", "30000"},
        {"QL_VAD_SILENCE_LEVEL", "500"}},
       {800, 1500, 30000, 500}},
      {"empty values leave the defaults",
       {{"QL_VAD_SILENCE_MS", ""},
        {"QL_VAD_MIN_SPEECH_MS", ""},
        {"QL_VAD_MAX_CHUNK_MS", ""},
        {"QL_VAD_SILENCE_LEVEL", ""}},
       {600, 1000, 25000, 350}},
      {"garbage leaves the defaults",
       {{"QL_VAD_SILENCE_MS", "fast"},
        {"QL_VAD_MIN_SPEECH_MS", "1 s"},
        {"QL_VAD_MAX_CHUNK_MS", "25e3"},
        {"QL_VAD_SILENCE_LEVEL", "abc"}},
       {600, 1000, 25000, 350}},
      {"negative values are taken as they are",
       {{"QL_VAD_SILENCE_MS", "-1"},
        {"QL_VAD_MIN_SPEECH_MS", "-2"},
        {"QL_VAD_MAX_CHUNK_MS", "-3"},
        {"QL_VAD_SILENCE_LEVEL", "-4"}},
       {-1, -2, -3, -4}},
      {"a level above the sample range is clamped", {{"QL_VAD_SILENCE_LEVEL", "100000"}}, {600, 1000, 25000, 32767}},
      {"a level below the sample range is clamped", {{"QL_VAD_SILENCE_LEVEL", "-100000"}}, {600, 1000, 25000, -32768}},
      {"a level beyond 64 bits leaves the default",
       {{"QL_VAD_SILENCE_LEVEL", "99999999999999999999"}},
       {600, 1000, 25000, 350}},
      {"other variables are ignored", {{"QL_VAD_SILENCE", "5"}, {"ql_vad_silence_ms", "5"}}, {600, 1000, 25000, 350}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    const auto lookup = [&testCase](const char* name) -> std::optional<std::string> {
      const auto found = testCase.environment.find(name);
      if (found == testCase.environment.end()) return std::nullopt;
      return found->second;
    };
    const ChunkingSettings settings = ChunkingSettings::fromEnvironment(lookup);
    EXPECT_EQ(settings.silenceFlushMs, testCase.expected.silenceFlushMs);
    EXPECT_EQ(settings.minSpeechMs, testCase.expected.minSpeechMs);
    EXPECT_EQ(settings.maxChunkMs, testCase.expected.maxChunkMs);
    EXPECT_EQ(settings.silenceLevel, testCase.expected.silenceLevel);
  }
}

}  // namespace
}  // namespace quillet::capture
