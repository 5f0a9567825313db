// Engine routing against loopback stand-ins for the backend's key function, the external speech
// service, the hosted whisper provider and the local transcription server, over real HTTP; the
// ten-minute windows and the on-device retry pauses run on virtual time.
#include "quillet-dictate/transcription/TranscriptionRouter.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <regex>

#include <nlohmann/json.hpp>

#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/curl/CurlHttpClient.h"
#include "tests/support/BackendStandIn.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/RecordingHttpClient.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

constexpr const char* kKeyPath = "/functions/v1/muse-key";
constexpr const char* kBatchPath = "/v1/asr/transcribe";
constexpr const char* kWhisperPath = "/whisper/v1/audio";
constexpr float kLoud = 0.02F;
constexpr float kQuiet = 0.001F;

const std::vector<std::uint8_t> kWav = {'R', 'I', 'F', 'F', 0x00, 0xFF, '\r', '\n', 'W', 'A', 'V', 'E'};

// The value of a multipart Content-Type's boundary parameter.
std::string boundaryOf(const test::RecordedRequest& request) {
  const std::string contentType = request.header("Content-Type").value_or("");
  const std::string marker = "multipart/form-data; boundary=";
  return contentType.starts_with(marker) ? contentType.substr(marker.size()) : std::string();
}

std::string wavText() { return {kWav.begin(), kWav.end()}; }

// The parts the server parsed out of a multipart body, in order of their names.
std::vector<test::RecordedPart> sortedParts(const test::RecordedRequest& request) {
  auto parts = request.parts;
  std::sort(parts.begin(), parts.end(), [](const auto& first, const auto& second) { return first.name < second.name; });
  return parts;
}

// The body of the last request this client sent to `url`, byte for byte as built.
std::string sentBody(const test::RecordingHttpClient& http, const std::string& url) {
  const auto sent = http.sent();
  for (auto request = sent.rbegin(); request != sent.rend(); ++request) {
    if (request->url == url) return request->body;
  }
  return {};
}

class TranscriptionRouterTest : public ::testing::Test, protected test::BackendStandIn {
 protected:
  TranscriptionRouterTest() { settings.supabaseAccessToken.set("access-1"); }

  // Transcribes one chunk, letting virtual time run through the retry pauses.
  std::string transcribe(float rms = kLoud, double durationSec = 2.04) {
    std::optional<ChunkTranscription> result;
    TranscriptionRouter& router = withOnDevice ? routerWithOnDevice : routerWithoutOnDevice;
    router.transcribeChunk(std::make_shared<const std::vector<std::uint8_t>>(kWav), durationSec, rms,
                           [&](ChunkTranscription transcription) { result = std::move(transcription); });
    while (!result) {
      EXPECT_TRUE(loop.runUntil([&] { return result.has_value() || loop.activeTimerCount() > 0; },
                                std::chrono::seconds(30)));
      if (!result && loop.activeTimerCount() > 0) loop.advance(TranscriptionRouter::kOnDeviceRetryDelaySeconds);
    }
    EXPECT_EQ(result->language, std::nullopt);
    return result->text;
  }

  void answerKey(const nlohmann::json& answer) { server.answer("GET", kKeyPath, 200, answer.dump(), "application/json"); }

  void answerMuse(int status, const std::string& body) { server.answer("POST", kBatchPath, status, body, "application/json"); }

  bool logged(const std::string& message) const { return capture.contains(message); }

  test::LoopbackHttpServer localServer;
  std::optional<std::string> voicePort = std::to_string(localServer.port());

  // The on-device recogniser's scripted answers, one per attempt, and when each attempt ran.
  std::mutex onDeviceMutex;
  std::vector<AIOutcome<std::string>> onDeviceAnswers;
  std::vector<double> onDeviceAttemptTimes;
  bool withOnDevice = true;

  WorkerPool workers{loop, 3};
  AuthService auth{http, settings};
  MuseTranscriber muse{http, settings, auth, loop, server.url(kBatchPath)};
  TranscriptionRouter::EnvironmentLookup environment = [this](const char* name) -> std::optional<std::string> {
    return std::string(name) == "VOICE_PORT" ? voicePort : std::nullopt;
  };
  TranscriptionRouter routerWithoutOnDevice{TranscriptionRouter::Engines{muse, {}, http}, workers, loop, loop, settings, log,
                                            environment};
  TranscriptionRouter routerWithOnDevice{
      TranscriptionRouter::Engines{muse,
                                   [this](const std::vector<std::uint8_t>& wav, const std::string& locale,
                                          std::stop_token) -> AIOutcome<std::string> {
                                     std::lock_guard lock(onDeviceMutex);
                                     EXPECT_EQ(wav, kWav);
                                     EXPECT_EQ(locale, "en-US");
                                     onDeviceAttemptTimes.push_back(loop.now());
                                     if (onDeviceAnswers.empty()) return std::string();
                                     auto answer = onDeviceAnswers.front();
                                     onDeviceAnswers.erase(onDeviceAnswers.begin());
                                     return answer;
                                   },
                                   http},
      workers,
      loop,
      loop,
      settings,
      log,
      environment};
};

TEST_F(TranscriptionRouterTest, WithoutASessionOnlyTheLoopbackServerIsAskedWithItsExactForm) {
  settings.supabaseAccessToken.set("");
  localServer.answer("POST", "/inference", 200, R"({"text":"  hello from the server \n"})", "application/json");
  onDeviceAnswers = {std::string(), std::string()};

  EXPECT_EQ(transcribe(kQuiet), "hello from the server");

  EXPECT_TRUE(server.requests().empty()) << "nothing leaves the machine";
  const auto requests = localServer.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/inference");
  const std::string boundary = boundaryOf(requests[0]);
  EXPECT_TRUE(std::regex_match(boundary, std::regex("ql-[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
      << boundary;
  const std::string expected = "--" + boundary + "\r\n" +
                               "Content-Disposition: form-data; name=\"file\"; filename=\"audio.wav\"\r\n"
                               "Content-Type: audio/wav\r\n\r\n" +
                               wavText() + "\r\n--" + boundary + "\r\n" +
                               "Content-Disposition: form-data; name=\"temperature\"\r\n\r\n0\r\n--" + boundary +
                               "\r\n" + "Content-Disposition: form-data; name=\"response_format\"\r\n\r\njson\r\n--" +
                               boundary + "--\r\n";
  EXPECT_EQ(sentBody(http, localServer.url("/inference")), expected);
  EXPECT_EQ(sortedParts(requests[0]), (std::vector<test::RecordedPart>{{"file", "audio.wav", "audio/wav", wavText()},
                                                                       {"response_format", "", "", "json"},
                                                                       {"temperature", "", "", "0"}}));
  EXPECT_EQ(http.sent().back().timeout, std::chrono::seconds(30));
}

TEST_F(TranscriptionRouterTest, TheLoopbackServerListensOnPort8910UnlessVoicePortSaysOtherwise) {
  settings.supabaseAccessToken.set("");
  voicePort.reset();
  withOnDevice = false;
  EXPECT_EQ(transcribe(kQuiet), "") << "nothing listens there in the test";
  EXPECT_EQ(http.sent().back().url, "http://127.0.0.1:8910/inference");
  EXPECT_TRUE(logged("· silent residual, no text (rms=0.00100)"));

  voicePort = "not a port";
  EXPECT_EQ(transcribe(kLoud), "");
  EXPECT_EQ(http.sent().back().url, "http://127.0.0.1:8910/inference") << "no request to a malformed address";
}

TEST_F(TranscriptionRouterTest, TheLoopbackServersAnswersAreReadLeniently) {
  settings.supabaseAccessToken.set("");
  struct Case {
    int status;
    std::string body;
    const char* expected;
  };
  const Case cases[] = {
      {200, R"({"text":"fine"})", "fine"},
      {200, R"({"segments":[]})", ""},
      {200, "not json", ""},
      {500, R"({"text":"ignored"})", ""},
  };
  for (const auto& testCase : cases) {
    localServer.answer("POST", "/inference", testCase.status, testCase.body, "application/json");
    EXPECT_EQ(transcribe(kQuiet), testCase.expected) << testCase.body;
  }
}

TEST_F(TranscriptionRouterTest, AKeyWithoutAPlanUploadsToTheSpeechServiceWithItsExactForm) {
  answerKey({{"key", "muse-key-1"}});
  answerMuse(200, R"({"transcript":"  hello world \n"})");

  EXPECT_EQ(transcribe(kLoud, 2.04), "hello world");

  const auto keyRequests = requestsTo(kKeyPath);
  ASSERT_EQ(keyRequests.size(), 1u);
  EXPECT_EQ(keyRequests[0].method, "GET");
  EXPECT_EQ(keyRequests[0].header("Authorization"), "Bearer access-1");
  EXPECT_EQ(keyRequests[0].header("apikey"), kAnonKey);

  const auto uploads = requestsTo(kBatchPath);
  ASSERT_EQ(uploads.size(), 1u);
  EXPECT_EQ(uploads[0].header("Authorization"), "Bearer muse-key-1");
  const std::string boundary = boundaryOf(uploads[0]);
  EXPECT_TRUE(boundary.starts_with("ql-muse-")) << boundary;
  const std::string expected =
      "--" + boundary + "\r\n" + "Content-Disposition: form-data; name=\"request\"\r\nContent-Type: application/json\r\n\r\n" +
      R"({"audioEncoding":"WAV","model":"muse-voice-transcribe-1.0"})" + "\r\n--" + boundary + "\r\n" +
      "Content-Disposition: form-data; name=\"audio\"; filename=\"chunk.wav\"\r\nContent-Type: audio/wav\r\n\r\n" +
      wavText() + "\r\n--" + boundary + "--\r\n";
  EXPECT_EQ(sentBody(http, server.url(kBatchPath)), expected);
  EXPECT_EQ(sortedParts(uploads[0]),
            (std::vector<test::RecordedPart>{{"audio", "chunk.wav", "audio/wav", wavText()},
                                             {"request", "", "application/json",
                                              R"({"audioEncoding":"WAV","model":"muse-voice-transcribe-1.0"})"}}));
  EXPECT_TRUE(logged("☁️ muse: 15 chars (2.0s)")) << "the count is taken before trimming";
  EXPECT_TRUE(localServer.requests().empty());

  std::map<std::string, std::chrono::milliseconds> deadlines;
  for (const auto& request : http.sent()) deadlines[request.url.substr(server.url("").size())] = request.timeout;
  EXPECT_EQ(deadlines[kKeyPath], std::chrono::seconds(10));
  EXPECT_EQ(deadlines[kBatchPath], std::chrono::seconds(25));

  EXPECT_EQ(transcribe(), "hello world");
  EXPECT_EQ(requestsTo(kKeyPath).size(), 1u) << "the key is fetched once per process";
}

TEST_F(TranscriptionRouterTest, APlanNamingWhisperFirstTriesTheHostedProviderThenTheService) {
  answerKey({{"key", "muse-key-1"},
             {"deepinfraKey", "whisper-key-1"},
             {"plan", {{"dictation", {"whisper", "muse"}}, {"whisperUrl", server.url(kWhisperPath)}}}});
  server.answer("POST", kWhisperPath, 200, R"({"text":" from whisper "})", "application/json");
  answerMuse(200, R"({"transcript":"from muse"})");

  EXPECT_EQ(transcribe(), "from whisper");
  const auto whisperUploads = requestsTo(kWhisperPath);
  ASSERT_EQ(whisperUploads.size(), 1u);
  EXPECT_EQ(whisperUploads[0].header("Authorization"), "bearer whisper-key-1");
  const std::string boundary = boundaryOf(whisperUploads[0]);
  EXPECT_TRUE(boundary.starts_with("ql-whisper-")) << boundary;
  EXPECT_EQ(sortedParts(whisperUploads[0]),
            (std::vector<test::RecordedPart>{{"audio", "chunk.wav", "audio/wav", wavText()}}));
  EXPECT_EQ(sentBody(http, server.url(kWhisperPath)), "--" + boundary + "\r\n" +
                                        "Content-Disposition: form-data; name=\"audio\"; filename=\"chunk.wav\"\r\n"
                                        "Content-Type: audio/wav\r\n\r\n" +
                                        wavText() + "\r\n--" + boundary + "--\r\n");
  EXPECT_TRUE(requestsTo(kBatchPath).empty());

  // A server error moves on to the next provider and leaves whisper in the plan.
  server.answer("POST", kWhisperPath, 500, "overloaded");
  EXPECT_EQ(transcribe(), "from muse");
  EXPECT_EQ(transcribe(), "from muse");
  EXPECT_EQ(requestsTo(kWhisperPath).size(), 3u);
}

TEST_F(TranscriptionRouterTest, AWhisperRefusalSkipsItForTenMinutes) {
  answerKey({{"key", "muse-key-1"},
             {"deepinfraKey", "whisper-key-1"},
             {"plan", {{"dictation", {"whisper", "muse"}}, {"whisperUrl", server.url(kWhisperPath)}}}});
  server.answer("POST", kWhisperPath, 402, R"({"error":"payment required"})", "application/json");
  answerMuse(200, R"({"transcript":"from muse"})");

  EXPECT_EQ(transcribe(), "from muse");
  loop.advance(599);
  EXPECT_EQ(transcribe(), "from muse");
  EXPECT_EQ(requestsTo(kWhisperPath).size(), 1u) << "skipped within ten minutes";
  loop.advance(1);
  server.answer("POST", kWhisperPath, 200, R"({"text":"whisper again"})", "application/json");
  EXPECT_EQ(transcribe(), "whisper again");
}

TEST_F(TranscriptionRouterTest, ARefusedKeyIsFetchedAgainOnceThenTheCloudPausesForTenMinutes) {
  int keyNumber = 0;
  server.on("GET", kKeyPath, [&](const httplib::Request&, httplib::Response& response) {
    response.status = 200;
    response.set_content(nlohmann::json{{"key", "muse-key-" + std::to_string(++keyNumber)}}.dump(), "application/json");
  });
  answerMuse(401, "invalid key");
  localServer.answer("POST", "/inference", 200, R"({"text":"local text"})", "application/json");
  withOnDevice = false;

  EXPECT_EQ(transcribe(kLoud), "local text");
  const auto uploads = requestsTo(kBatchPath);
  ASSERT_EQ(uploads.size(), 2u) << "one repeat with the new key, no more";
  EXPECT_EQ(uploads[0].header("Authorization"), "Bearer muse-key-1");
  EXPECT_EQ(uploads[1].header("Authorization"), "Bearer muse-key-2");
  EXPECT_TRUE(logged("⚠️ muse unavailable (muse http 401 invalid key) → native for the next 10 min"));

  loop.advance(599);
  EXPECT_EQ(transcribe(kLoud), "local text");
  EXPECT_EQ(server.requests().size(), 4u) << "no cloud request inside the window";

  loop.advance(1.1);
  answerMuse(200, R"({"transcript":"cloud again"})");
  EXPECT_EQ(transcribe(kLoud), "cloud again");
  EXPECT_EQ(requestsTo(kKeyPath).size(), 2u) << "the renewed key is kept";
  EXPECT_EQ(requestsTo(kBatchPath).back().header("Authorization"), "Bearer muse-key-2");
}

TEST_F(TranscriptionRouterTest, KeyLookupFailuresFallBackToTheLocalRoute) {
  withOnDevice = false;
  localServer.answer("POST", "/inference", 200, R"({"text":"local"})", "application/json");
  struct Case {
    const char* description;
    int status;
    std::string body;
    const char* reason;
  };
  const Case cases[] = {
      {"a server error", 500, "{}", "muse-key http 500"},
      {"no key", 200, R"({"deepinfraKey":"x"})", "muse-key: empty key"},
      {"an empty key", 200, R"({"key":""})", "muse-key: empty key"},
      {"a key of the wrong type", 200, R"({"key":5})", "muse-key: empty key"},
      {"a plan of the wrong shape", 200, R"({"key":"k","plan":{"dictation":"muse"}})", "muse-key: empty key"},
      {"a plan without known providers", 200, R"({"key":"k","plan":{"dictation":["other"]}})", "no provider"},
  };
  for (const auto& testCase : cases) {
    server.answer("GET", kKeyPath, testCase.status, testCase.body, "application/json");
    EXPECT_EQ(transcribe(kLoud), "local") << testCase.description;
    EXPECT_TRUE(logged(std::string("⚠️ muse unavailable (") + testCase.reason + ") → native for the next 10 min"))
        << testCase.description;
    loop.advance(TranscriptionRouter::kCloudPauseSeconds + 1);
  }
}

TEST_F(TranscriptionRouterTest, AnExpiredSessionIsRefreshedOnceForTheKeyLookup) {
  server.on("GET", kKeyPath, [](const httplib::Request& request, httplib::Response& response) {
    const bool renewed = request.get_header_value("Authorization") == "Bearer access-2";
    response.status = renewed ? 200 : 401;
    if (renewed) response.set_content(R"({"key":"muse-key-1"})", "application/json");
  });
  server.answer("POST", "/auth/v1/token", 200, R"({"access_token":"access-2","refresh_token":"refresh-2"})",
                "application/json");
  settings.supabaseRefreshToken.set("refresh-1");
  answerMuse(200, R"({"transcript":"after refresh"})");

  EXPECT_EQ(transcribe(), "after refresh");
  EXPECT_EQ(requestsTo(kKeyPath).size(), 2u);
  EXPECT_EQ(requestsTo("/auth/v1/token?grant_type=refresh_token").size(), 1u);
}

TEST_F(TranscriptionRouterTest, A401AfterTheRefreshFailsTheKeyLookupWithoutAnotherRefresh) {
  server.answer("GET", kKeyPath, 401, "{}");
  server.answer("POST", "/auth/v1/token", 200, R"({"access_token":"access-2","refresh_token":"refresh-2"})",
                "application/json");
  settings.supabaseRefreshToken.set("refresh-1");
  withOnDevice = false;
  localServer.answer("POST", "/inference", 200, R"({"text":"local"})", "application/json");
  EXPECT_EQ(transcribe(), "local");
  EXPECT_TRUE(logged("⚠️ muse unavailable (muse-key http 401) → native for the next 10 min"));
  EXPECT_EQ(requestsTo(kKeyPath).size(), 2u);
  EXPECT_EQ(requestsTo("/auth/v1/token?grant_type=refresh_token").size(), 1u);
}

TEST_F(TranscriptionRouterTest, OnDeviceAttemptsAre120MillisecondsApartFiveWhenLoudTwoWhenQuiet) {
  localServer.answer("POST", "/inference", 503, "down");
  settings.supabaseAccessToken.set("");

  EXPECT_EQ(transcribe(kLoud), "");
  ASSERT_EQ(onDeviceAttemptTimes.size(), 5u);
  for (std::size_t attempt = 1; attempt < onDeviceAttemptTimes.size(); ++attempt) {
    EXPECT_NEAR(onDeviceAttemptTimes[attempt] - onDeviceAttemptTimes[attempt - 1], 0.12, 1e-9);
  }
  EXPECT_TRUE(logged("⚠️ SpeechAnalyzer empty (attempt 1/5) rms=0.02000"));
  EXPECT_TRUE(logged("⚠️ SpeechAnalyzer empty (attempt 5/5) rms=0.02000"));
  EXPECT_TRUE(logged("❌ SPEECH LOST: rms=0.02000 had energy but SpeechAnalyzer returned empty after 5 tries"));
  EXPECT_EQ(localServer.requests().size(), 1u);

  onDeviceAttemptTimes.clear();
  onDeviceAnswers = {AIFailure{VessioError::api("model busy")}, std::string()};
  EXPECT_EQ(transcribe(kQuiet), "");
  EXPECT_EQ(onDeviceAttemptTimes.size(), 2u);
  EXPECT_TRUE(logged("⚠️ SpeechAnalyzer failed (attempt 1/2): model busy"));
  EXPECT_TRUE(logged("⚠️ SpeechAnalyzer empty (attempt 2/2) rms=0.00100"));
  EXPECT_TRUE(logged("· silent residual, no text (rms=0.00100)"));
}

TEST_F(TranscriptionRouterTest, TheOnDeviceTextIsUsedAsSoonAsOneAttemptHasIt) {
  settings.supabaseAccessToken.set("");
  onDeviceAnswers = {std::string("hello"), std::string()};
  EXPECT_EQ(transcribe(kLoud), "hello");
  EXPECT_TRUE(logged("🍎 native SpeechAnalyzer: 5 chars"));

  onDeviceAnswers = {std::string(), AIFailure{VessioError::api("busy")}, std::string(" café ")};
  EXPECT_EQ(transcribe(kLoud), "café");
  EXPECT_TRUE(logged("🍎 native SpeechAnalyzer: 6 chars (recovered on attempt 3)"));
  EXPECT_TRUE(localServer.requests().empty());
}

TEST(MuseTranscriberParseTest, TheTranscriptIsReadFromTheFirstUsableField) {
  struct Case {
    const char* body;
    const char* expected;  // the text, or the failure's description
  };
  const Case cases[] = {
      {R"({"transcript":" as is "})", " as is "},
      {R"({"transcript":"wins","turns":[{"transcript":"loses"}]})", "wins"},
      {R"({"turns":[{"transcript":"world","startMs":900},{"transcript":"hello","startMs":100}]})", "hello world"},
      {R"({"turns":[{"transcript":"b","startMs":5},{"transcript":"a"},{"startMs":1},{"transcript":"c","startMs":"7"}]})",
       "a c b"},
      {R"({"turns":[{"transcript":"x","startMs":2},{"transcript":"y","startMs":2}]})", "x y"},
      {R"({"turns":[]})", ""},
      {R"({"transcript":5,"text":"fallback"})", "fallback"},
      {R"({"turns":"nope","text":"fallback"})", "fallback"},
      {R"({"words":[]})", "Parse error: muse: no transcript in response"},
      {R"(["transcript"])", "Parse error: muse: not an object"},
  };
  for (const auto& testCase : cases) {
    const auto outcome = MuseTranscriber::parseTranscript(testCase.body);
    const std::string actual = outcome.hasValue() ? outcome.value()
                                                                            : outcome.error().description();
    EXPECT_EQ(actual, testCase.expected) << testCase.body;
  }
  const auto notJson = MuseTranscriber::parseTranscript("<html>");
  ASSERT_TRUE(notJson.failed());
  EXPECT_TRUE(std::holds_alternative<JsonParseFailure>(notJson.error().error));
}

}  // namespace
}  // namespace quillet::dictate

namespace quillet::dictate {
namespace {

// Chunks are transcribed concurrently without limit: requests stalled at the loopback server or at the
// speech service hold back neither a later chunk at the same server nor one routed to the device.
TEST_F(TranscriptionRouterTest, StalledRequestsHoldNoOtherChunkBack) {
  std::mutex mutex;
  std::condition_variable released;
  bool release = false;
  int localRequests = 0;
  localServer.on("POST", "/inference", [&](const httplib::Request&, httplib::Response& response) {
    std::unique_lock lock(mutex);
    // The first two requests stall; the third is answered at once.
    if (++localRequests <= 2) released.wait(lock, [&] { return release; });
    response.set_content(R"({"text":"answered"})", "application/json");
  });
  server.neverAnswer("POST", kBatchPath);
  answerKey({{"key", "muse-key-1"}});
  const auto letGo = [&] {
    {
      std::lock_guard lock(mutex);
      release = true;
    }
    released.notify_all();
    server.releaseBlocked();
  };
  std::vector<std::string> finished;
  const auto chunk = [&](TranscriptionRouter& router, std::string name) {
    router.transcribeChunk(std::make_shared<const std::vector<std::uint8_t>>(kWav), 2.0, kQuiet,
                           [&finished, name](ChunkTranscription result) { finished.push_back(name + ":" + result.text); });
  };

  // Two uploads stall at the speech service, then the session ends and chunks go the local way.
  chunk(routerWithoutOnDevice, "cloud 1");
  chunk(routerWithoutOnDevice, "cloud 2");
  // The loop runs until both uploads are sent; the server then holds them (with the key lookup before them).
  const auto uploadsSent = [&] {
    const auto sent = http.sent();
    return std::count_if(sent.begin(), sent.end(), [&](const auto& request) { return request.url == server.url(kBatchPath); });
  };
  const bool uploadsStalled = loop.runUntil([&] { return uploadsSent() == 2; }, std::chrono::seconds(10)) &&
                              server.waitForRequests(3, std::chrono::seconds(10));
  settings.supabaseAccessToken.set("");
  onDeviceAnswers = {std::string("from the device")};
  chunk(routerWithOnDevice, "device");
  const bool deviceAnswered = loop.runUntil([&] { return !finished.empty(); }, std::chrono::seconds(10));

  // Two requests stall at the loopback server; a third chunk to it is answered meanwhile.
  chunk(routerWithoutOnDevice, "local 1");
  chunk(routerWithoutOnDevice, "local 2");
  const bool localStalled = localServer.waitForRequests(2, std::chrono::seconds(10));
  chunk(routerWithoutOnDevice, "local 3");
  const bool thirdAnswered = loop.runUntil([&] { return finished.size() == 2; }, std::chrono::seconds(10));
  const auto whileStalled = finished;
  letGo();

  EXPECT_TRUE(uploadsStalled);
  EXPECT_TRUE(deviceAnswered);
  EXPECT_TRUE(localStalled);
  EXPECT_TRUE(thirdAnswered);
  EXPECT_EQ(whileStalled, (std::vector<std::string>{"device:from the device", "local 3:answered"}));
  // Once let go, the stalled ones end too, each on its own.
  EXPECT_TRUE(loop.runUntil([&] { return finished.size() == 6; }, std::chrono::seconds(30)));
}

}  // namespace
}  // namespace quillet::dictate
