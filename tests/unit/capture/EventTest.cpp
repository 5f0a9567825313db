#include "quillet-capture/protocol/Event.h"

#include <gtest/gtest.h>

#include <chrono>

#include "quillet-capture/protocol/CaptureError.h"

namespace quillet::capture {
namespace {

TEST(EventTest, RawValuesAreTheHostsVocabulary) {
  EXPECT_EQ(rawValue(Speaker::you), "you");
  EXPECT_EQ(rawValue(Speaker::others), "others");

  static const struct {
    ErrorCode code;
    const char* raw;
  } codes[] = {
      {ErrorCode::permissionDenied, "PERMISSION_DENIED"},     {ErrorCode::noMicrophone, "NO_MICROPHONE"},
      {ErrorCode::captureFailed, "CAPTURE_FAILED"},           {ErrorCode::transcribeFailed, "TRANSCRIBE_FAILED"},
      {ErrorCode::invalidCommand, "INVALID_COMMAND"},         {ErrorCode::localeNotSupported, "LOCALE_NOT_SUPPORTED"},
  };
  for (const auto& entry : codes) EXPECT_EQ(rawValue(entry.code), entry.raw);
}

TEST(EventTest, StartedCarriesMillisecondsTruncatedTowardZero) {
  using std::chrono::system_clock;
  static const struct {
    system_clock::duration sinceEpoch;
    std::int64_t expectedMilliseconds;
  } cases[] = {
      {std::chrono::seconds(1768478400), 1768478400000},
      {std::chrono::seconds(1768478400) + std::chrono::microseconds(999999), 1768478400999},
      {std::chrono::microseconds(1500), 1},
      {-std::chrono::microseconds(1500), -1},
  };
  for (const auto& testCase : cases) {
    const Event event = Event::started(system_clock::time_point(testCase.sinceEpoch));
    EXPECT_EQ(std::get<Event::Started>(event.payload()).epochMs, testCase.expectedMilliseconds);
  }
}

TEST(EventTest, CommandAnswersCarryTheirMessages) {
  EXPECT_EQ(Event::invalidCommand(CommandRejection{"member \"cmd\" is missing"}),
            Event::error(ErrorCode::invalidCommand, "could not parse command: member \"cmd\" is missing", false));
  EXPECT_EQ(Event::unknownCommand("pause"), Event::error(ErrorCode::invalidCommand, "unknown command: pause", false));
}

std::vector<std::string> keysOf(const nlohmann::ordered_json& object) {
  std::vector<std::string> keys;
  for (const auto& member : object.items()) keys.push_back(member.key());
  return keys;
}

TEST(EventTest, MembersFollowTheHostsOrder) {
  static const struct {
    Event event;
    std::vector<std::string> keys;
  } cases[] = {
      {Event::ready({"whisper", {"*"}, "12"}), {"type", "capabilities"}},
      {Event::started(std::chrono::system_clock::time_point{}), {"type", "epochMs"}},
      {Event::chunk({Speaker::you, "hi", 0, 1, true}), {"type", "speaker", "text", "start", "end", "isFinal"}},
      {Event::audio({Speaker::others, "/tmp/a.wav", 0, 1}), {"type", "speaker", "wavPath", "start", "end"}},
      {Event::error(ErrorCode::captureFailed, "x", true), {"type", "code", "message", "fatal"}},
      {Event::stopped("signal"), {"type", "reason"}},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(keysOf(testCase.event.json()), testCase.keys);
  }
  EXPECT_EQ(keysOf(Event::ready({"whisper", {"*"}, "12"}).json()["capabilities"]), (std::vector<std::string>{"transcriber", "supportedLocales", "macOSVersion"}));
}

TEST(EventTest, OwnErrorsCarryTheProgramsDomainAndTexts) {
  static const struct {
    CaptureError error;
    int code;
    const char* description;
  } cases[] = {
      {CaptureError::microphoneAccessDenied(), 100, "microphone access denied"},
      {CaptureError::noDisplayForSystemAudio(), 200, "no display available for system audio capture"},
      {CaptureError::recognizerUnsupportedLocale("xx-YY"), 1, "SFSpeechRecognizer unsupported for locale xx-YY"},
      {CaptureError::recognizerUnavailable(), 2, "SFSpeechRecognizer not available right now"},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(testCase.error.domain, "quillet.capture");
    EXPECT_EQ(testCase.error.code, testCase.code);
    EXPECT_EQ(testCase.error.description(), testCase.description);
  }
  EXPECT_EQ(CaptureError::fromPlatform("Connection refused").description(), "Connection refused");
}

}  // namespace
}  // namespace quillet::capture
