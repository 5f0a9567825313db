// The AI client against a loopback stand-in for the backend, over real HTTP: request conventions,
// the refresh-and-retry rule, the preference cache, metering and the cleanup with its guard.
#include "quillet-dictate/backend/AIService.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/curl/CurlHttpClient.h"
#include "tests/support/BackendStandIn.h"
#include "tests/support/FileContents.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/RecordingHttpClient.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

constexpr const char* kCleanupPath = "/functions/v1/dictate-cleanup";
constexpr const char* kPreferencePath = "/rest/v1/user_preferences";

const std::string kTranscript = "so um we shipped the build on friday";

class AIServiceTest : public ::testing::Test, protected test::BackendStandIn {
 protected:
  AIServiceTest() {
    settings.supabaseAccessToken.set("old-access");
    settings.supabaseRefreshToken.set("old-refresh");
  }

  AIOutcome<std::string> cleanup(const std::string& text, const std::string& mode = "grammar",
                                 const std::optional<std::string>& customPrompt = std::nullopt) {
    std::optional<AIOutcome<std::string>> outcome;
    ai.cleanupVoiceText(text, mode, customPrompt, "en", [&](AIOutcome<std::string> result) { outcome = std::move(result); });
    EXPECT_TRUE(loop.runUntil([&] { return outcome.has_value(); }, std::chrono::seconds(30)));
    return outcome.value_or(AIFailure{VessioError::api("no completion")});
  }

  // The cleaned text, or the failure's description prefixed with "failure: ".
  std::string cleanupText(const std::string& text, const std::string& mode = "grammar",
                          const std::optional<std::string>& customPrompt = std::nullopt) {
    auto outcome = cleanup(text, mode, customPrompt);
    if (outcome.failed()) return "failure: " + outcome.error().description();
    return outcome.value();
  }

  bool aiCleanupEnabled() {
    std::optional<bool> answer;
    ai.fetchAiCleanupEnabled([&](bool enabled) { answer = enabled; });
    EXPECT_TRUE(loop.runUntil([&] { return answer.has_value(); }, std::chrono::seconds(30)));
    return answer.value_or(false);
  }

  // Meters a dictation and waits for the log line that ends the fire-and-forget call.
  void recordAndWait(double seconds) {
    const std::size_t before = logLines().size();
    ai.recordDictation(seconds);
    EXPECT_TRUE(loop.runUntil([&] { return logLines().size() > before; }, std::chrono::seconds(30)));
  }

  // Answers the cleanup function with 200 for the new session's token and 401 for any other.
  void answerCleanupOnlyForNewToken() {
    server.on("POST", kCleanupPath, [](const httplib::Request& request, httplib::Response& response) {
      if (request.get_header_value("Authorization") == "Bearer new-access") {
        response.status = 200;
        response.set_content(R"({"cleaned":"We shipped the build on Friday."})", "application/json");
      } else {
        response.status = 401;
        response.set_content(R"({"error":"JWT expired"})", "application/json");
      }
    });
  }

  void answerRefresh() {
    server.answer("POST", "/auth/v1/token", 200, R"({"access_token":"new-access","refresh_token":"new-refresh"})",
                  "application/json");
  }

  std::vector<std::string> logLines() const { return capture.lines(); }

  AuthService auth{http, settings};
  AIService ai{http, settings, auth, log, loop};
};

TEST_F(AIServiceTest, CleanupPostsTheTrimmedTextWithTheAccessTokenAndReturnsTheFaithfulAnswer) {
  server.answer("POST", kCleanupPath, 200, R"({"cleaned":"We shipped the build on Friday.","model":"x"})",
                "application/json");

  EXPECT_EQ(cleanupText("\n  " + kTranscript + " \t\n"), "We shipped the build on Friday.");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, kCleanupPath);
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer old-access");
  EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
  EXPECT_EQ(requests[0].header("apikey"), std::nullopt) << "AI functions carry no anonymous key";
  EXPECT_EQ(nlohmann::json::parse(requests[0].body), (nlohmann::json{{"text", kTranscript}}));
  ASSERT_EQ(http.sent().size(), 1u);
  EXPECT_EQ(http.sent()[0].timeout, std::chrono::seconds(12));
}

TEST_F(AIServiceTest, OnlyTheCustomModeWithARealPromptSendsASystemInstruction) {
  server.answer("POST", kCleanupPath, 200, R"({"cleaned":"we shipped the build on friday"})", "application/json");
  struct Case {
    const char* mode;
    std::optional<std::string> prompt;
    nlohmann::json expectedBody;
  };
  const nlohmann::json plain{{"text", kTranscript}};
  const Case cases[] = {
      {"grammar", std::nullopt, plain},
      {"professional", std::nullopt, plain},
      {"auto", std::nullopt, plain},
      {"grammar", "Make it rhyme", plain},
      {"custom", std::nullopt, plain},
      {"custom", " \t\n ", plain},
      {"Custom", "Make it rhyme", plain},
      {"custom", "  Make it rhyme\n", {{"text", kTranscript}, {"system", "Make it rhyme"}}},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(cleanupText(kTranscript, testCase.mode, testCase.prompt), "we shipped the build on friday");
    const auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(nlohmann::json::parse(requests.back().body), testCase.expectedBody)
        << testCase.mode << " / " << testCase.prompt.value_or("(none)");
  }
}

TEST_F(AIServiceTest, BlankTextAndMissingSessionAreAnsweredWithoutARequest) {
  settings.supabaseAccessToken.set("");
  EXPECT_EQ(cleanupText(" \n\t "), "") << "a blank transcript needs no sign-in";
  EXPECT_EQ(cleanupText(kTranscript), "failure: Sign in to Vessio to use grammar and voice.");
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(AIServiceTest, UnfaithfulAnswersFallBackToTheTrimmedTranscriptAndAreLogged) {
  struct Case {
    const char* description;
    std::string answer;
    std::string expectedLog;
  };
  const Case cases[] = {
      {"a report about the speech", R"({"cleaned":"The speaker says they shipped the build."})",
       "🛡️ cloud cleanup derailed (out=40c) → using raw transcript"},
      {"an empty answer", R"({"cleaned":""})", "🛡️ cloud cleanup derailed (out=0c) → using raw transcript"},
      {"characters, not bytes, are counted", R"({"cleaned":"Le café über straße"})",
       "🛡️ cloud cleanup derailed (out=19c) → using raw transcript"},
  };
  for (const auto& testCase : cases) {
    server.answer("POST", kCleanupPath, 200, testCase.answer, "application/json");
    EXPECT_EQ(cleanupText("  " + kTranscript + "\n"), kTranscript) << testCase.description;
    ASSERT_FALSE(logLines().empty());
    EXPECT_TRUE(logLines().back().ends_with("] " + testCase.expectedLog + "\n")) << logLines().back();
  }
}

TEST_F(AIServiceTest, AnswersWithoutACleanedTextAreDecodeErrors) {
  for (const char* body : {R"({"text":"x"})", R"({"cleaned":5})", R"(["cleaned"])", "cleaned", ""}) {
    server.answer("POST", kCleanupPath, 200, body, "application/json");
    EXPECT_EQ(cleanupText(kTranscript), "failure: Parse error: dictate-cleanup: missing 'cleaned' field") << body;
  }
}

TEST_F(AIServiceTest, StatusesOtherThan200AreErrorsWithTheServersMessage) {
  struct Case {
    int status;
    std::string body;
    const char* expected;
  };
  const Case cases[] = {
      {201, R"({"cleaned":"x"})", "failure: HTTP 201: {\"cleaned\":\"x\"}"},
      {204, "", "failure: HTTP 204: "},
      {500, R"({"error":"quota"})", "failure: HTTP 500: quota"},
      {500, R"({"message":"quota"})", "failure: HTTP 500: {\"message\":\"quota\"}"},
      {500, "", "failure: HTTP 500: "},
      {500, std::string("\xff\xfe quota", 8), "failure: HTTP 500: status 500"},
      {502, "<html>Bad gateway</html>", "failure: HTTP 502: <html>Bad gateway</html>"},
  };
  for (const auto& testCase : cases) {
    server.answer("POST", kCleanupPath, testCase.status, testCase.body, "text/plain");
    EXPECT_EQ(cleanupText(kTranscript), testCase.expected) << testCase.status;
  }
  EXPECT_TRUE(requestsTo("/auth").empty()) << "only 401 refreshes";
}

TEST_F(AIServiceTest, AddressesAreJoinedAsTextAndUnusableOnesRefused) {
  server.answer("POST", "/" + std::string(kCleanupPath), 200, R"({"cleaned":"we shipped the build on friday"})",
                "application/json");
  settings.supabaseURL.set(server.url("/"));
  EXPECT_EQ(cleanupText(kTranscript), "we shipped the build on friday");
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].target, "//functions/v1/dictate-cleanup") << "a trailing slash is not repaired";

  settings.supabaseURL.set("https://bad host");
  EXPECT_EQ(cleanupText(kTranscript), "failure: bad URL");
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(AIServiceTest, AnExpiredSessionIsRefreshedOnceAndTheRequestRetriedWithTheNewToken) {
  answerCleanupOnlyForNewToken();
  answerRefresh();

  EXPECT_EQ(cleanupText(kTranscript), "We shipped the build on Friday.");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer old-access");
  EXPECT_EQ(requests[1].target, "/auth/v1/token?grant_type=refresh_token");
  EXPECT_EQ(nlohmann::json::parse(requests[1].body), (nlohmann::json{{"refresh_token", "old-refresh"}}));
  EXPECT_EQ(requests[2].header("Authorization"), "Bearer new-access");
  EXPECT_EQ(requests[2].body, requests[0].body);
  EXPECT_EQ(settings.supabaseRefreshToken.get(), "new-refresh");
}

TEST_F(AIServiceTest, AnExpiredSessionThatCannotBeRenewedSurfacesTheRefreshError) {
  answerCleanupOnlyForNewToken();

  settings.supabaseRefreshToken.set("");
  EXPECT_EQ(cleanupText(kTranscript), "failure: Not signed in.");
  EXPECT_EQ(server.requests().size(), 1u) << "no refresh request without a refresh token, no retry";

  settings.supabaseRefreshToken.set("old-refresh");
  server.answer("POST", "/auth/v1/token", 400, R"({"error_description":"Invalid Refresh Token: Already Used"})",
                "application/json");
  EXPECT_EQ(cleanupText(kTranscript), "failure: Invalid Refresh Token: Already Used");
  EXPECT_EQ(requestsTo(kCleanupPath).size(), 2u) << "a failed refresh is not followed by a retry";
}

TEST_F(AIServiceTest, A401OnTheRetryIsAnExpiredSessionWithNoThirdAttempt) {
  server.answer("POST", kCleanupPath, 401, R"({"error":"JWT expired"})", "application/json");
  answerRefresh();

  EXPECT_EQ(cleanupText(kTranscript), "failure: Your session expired. Sign in again.");
  EXPECT_EQ(requestsTo(kCleanupPath).size(), 2u);
  EXPECT_EQ(requestsTo("/auth/v1/token").size(), 1u);
}

TEST_F(AIServiceTest, ConcurrentExpiriesEachRunTheirOwnRefresh) {
  // Both requests are held until both have arrived, so both carry the expired token.
  std::mutex mutex;
  std::condition_variable bothArrived;
  int expiredArrivals = 0;
  server.on("POST", kCleanupPath, [&](const httplib::Request& request, httplib::Response& response) {
    if (request.get_header_value("Authorization") != "Bearer new-access") {
      std::unique_lock lock(mutex);
      ++expiredArrivals;
      bothArrived.notify_all();
      bothArrived.wait_for(lock, std::chrono::seconds(10), [&] { return expiredArrivals >= 2; });
      response.status = 401;
      return;
    }
    response.status = 200;
    response.set_content(R"({"cleaned":"We shipped the build on Friday."})", "application/json");
  });
  answerRefresh();

  std::vector<AIOutcome<std::string>> outcomes;
  for (int call = 0; call < 2; ++call) {
    ai.cleanupVoiceText(kTranscript, "grammar", std::nullopt, std::nullopt,
                        [&](AIOutcome<std::string> outcome) { outcomes.push_back(std::move(outcome)); });
  }
  ASSERT_TRUE(loop.runUntil([&] { return outcomes.size() == 2; }, std::chrono::seconds(30)));

  for (const auto& outcome : outcomes) {
    ASSERT_TRUE(outcome.hasValue());
    EXPECT_EQ(outcome.value(), "We shipped the build on Friday.");
  }
  EXPECT_EQ(requestsTo("/auth/v1/token?grant_type=refresh_token").size(), 2u);
  EXPECT_EQ(requestsTo(kCleanupPath).size(), 4u);
}

TEST_F(AIServiceTest, EveryCallCarriesItsOwnDeadlineAndASilentServerIsCutOffByIt) {
  server.answer("POST", "/auth/v1/token", 200, R"({"access_token":"a","refresh_token":"r"})", "application/json");
  server.answer("GET", kPreferencePath, 200, R"([{"dictation_ai_cleanup":true}])", "application/json");
  server.answer("POST", "/functions/v1/usage-record", 200, "{}", "application/json");
  bool signedIn = false;
  auth.signIn("ada@example.com", "correct horse", [&](auto) { signedIn = true; });
  ASSERT_TRUE(loop.runUntil([&] { return signedIn; }));
  aiCleanupEnabled();
  recordAndWait(3);
  std::map<std::string, std::chrono::milliseconds> deadlines;
  for (const auto& request : http.sent()) deadlines[request.url.substr(server.url("").size())] = request.timeout;
  EXPECT_EQ(deadlines["/auth/v1/token?grant_type=password"], std::chrono::seconds(15));
  EXPECT_EQ(deadlines["/rest/v1/user_preferences?select=dictation_ai_cleanup"], std::chrono::seconds(4));
  EXPECT_EQ(deadlines["/functions/v1/usage-record"], std::chrono::seconds(8));

  // Twelve seconds shortened forty times: the call ends after 0.3 s with the transport's error.
  server.neverAnswer("POST", kCleanupPath);
  http.setTimeoutDivisor(40);
  const auto started = std::chrono::steady_clock::now();
  auto outcome = cleanup(kTranscript);
  const auto waited = std::chrono::steady_clock::now() - started;
  server.releaseBlocked();
  ASSERT_TRUE(outcome.failed());
  EXPECT_TRUE(std::holds_alternative<platform::HttpTransportError>(outcome.error().error))
      << outcome.error().description();
  EXPECT_EQ(http.sent().back().timeout, std::chrono::seconds(12));
  EXPECT_LT(waited, std::chrono::seconds(5));
}

// An answer that arrives after the service is gone reaches nobody: its completion finds the service ended
// and neither touches it nor answers for it.
TEST_F(AIServiceTest, AnAnswerArrivingAfterTheServiceIsGoneIsDropped) {
  struct HeldHttpClient final : platform::HttpClient {
    platform::HttpCall start(platform::HttpRequest /*request*/, Completion completion) override {
      held.push_back(std::move(completion));
      return {};
    }
    std::vector<Completion> held;
  } heldHttp;
  AuthService heldAuth{heldHttp, settings};
  auto service = std::make_unique<AIService>(heldHttp, settings, heldAuth, log, loop);
  int answered = 0;
  service->cleanupVoiceText(kTranscript, "grammar", std::nullopt, "en", [&](AIOutcome<std::string>) { ++answered; });
  ASSERT_EQ(heldHttp.held.size(), 1u);
  service.reset();
  heldHttp.held.front()(platform::HttpResponse{200, R"({"cleaned":"We shipped the build on Friday."})", {}});
  loop.runPending();
  EXPECT_EQ(answered, 0);
}

TEST_F(AIServiceTest, ThePreferenceIsReadWithBothKeysAndCachedForAMinute) {
  server.answer("GET", kPreferencePath, 200, R"([{"dictation_ai_cleanup":false}])", "application/json");

  EXPECT_FALSE(aiCleanupEnabled());
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].target, "/rest/v1/user_preferences?select=dictation_ai_cleanup");
  EXPECT_EQ(requests[0].header("apikey"), kAnonKey);
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer old-access");

  server.answer("GET", kPreferencePath, 200, R"([{"dictation_ai_cleanup":true}])", "application/json");
  loop.advance(59.9);
  EXPECT_FALSE(aiCleanupEnabled()) << "still the cached answer";
  EXPECT_EQ(server.requests().size(), 1u);
  loop.advance(0.1);
  EXPECT_TRUE(aiCleanupEnabled()) << "a minute later the backend is asked again";
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(AIServiceTest, UnusablePreferenceAnswersFallBackToTrueAndAreNotCached) {
  struct Case {
    const char* description;
    int status;
    std::string body;
  };
  const Case cases[] = {
      {"a server error", 500, R"({"error":"down"})"},
      {"an expired session, which is not refreshed here", 401, "{}"},
      {"a created status", 201, R"([{"dictation_ai_cleanup":false}])"},
      {"an empty array", 200, "[]"},
      {"an object instead of rows", 200, R"({"dictation_ai_cleanup":false})"},
      {"rows that are not objects", 200, "[false]"},
      {"not JSON", 200, "dictation_ai_cleanup=false"},
  };
  for (const auto& testCase : cases) {
    server.answer("GET", kPreferencePath, testCase.status, testCase.body, "application/json");
    const std::size_t before = server.requests().size();
    EXPECT_TRUE(aiCleanupEnabled()) << testCase.description;
    EXPECT_TRUE(aiCleanupEnabled()) << testCase.description;
    EXPECT_EQ(server.requests().size(), before + 2) << testCase.description << ": failures are not cached";
  }
  EXPECT_TRUE(requestsTo("/auth").empty());
}

TEST_F(AIServiceTest, APreferenceRowWithoutABooleanReadsAsOffAndIsCached) {
  for (const char* body : {R"([{"dictation_ai_cleanup":null}])", R"([{}])", R"([{"dictation_ai_cleanup":"true"}])"}) {
    server.answer("GET", kPreferencePath, 200, body, "application/json");
    const std::size_t before = server.requests().size();
    EXPECT_FALSE(aiCleanupEnabled()) << body;
    EXPECT_FALSE(aiCleanupEnabled()) << body;
    EXPECT_EQ(server.requests().size(), before + 1) << body << ": the answer is cached";
    loop.advance(AIService::kPreferenceCacheSeconds);
  }
}

TEST_F(AIServiceTest, AfterAnExpiredCacheAFailedLookupAnswersTheLastKnownValue) {
  server.answer("GET", kPreferencePath, 200, R"([{"dictation_ai_cleanup":false}])", "application/json");
  EXPECT_FALSE(aiCleanupEnabled());
  loop.advance(3600);

  server.answer("GET", kPreferencePath, 503, "maintenance");
  EXPECT_FALSE(aiCleanupEnabled()) << "an hour-old answer beats the default";

  settings.supabaseURL.set("http://127.0.0.1:1");
  EXPECT_FALSE(aiCleanupEnabled());
  const auto lines = logLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("ai-cleanup preference fetch failed: "), std::string::npos) << lines.back();

  settings.supabaseAccessToken.set("");
  const std::size_t before = server.requests().size();
  EXPECT_FALSE(aiCleanupEnabled());
  EXPECT_EQ(server.requests().size(), before) << "no lookup without a session";
}

TEST_F(AIServiceTest, WithoutASessionOrAnyAnswerThePreferenceIsOn) {
  settings.supabaseAccessToken.set("");
  EXPECT_TRUE(aiCleanupEnabled());
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(AIServiceTest, DictationsOfAtLeastASecondAreMeteredInWholeSecondsRoundedUp) {
  server.answer("POST", "/functions/v1/usage-record", 200, "ignored");
  for (double seconds : {0.0, 0.9, -5.0, std::numeric_limits<double>::quiet_NaN(),
                         std::numeric_limits<double>::infinity()}) {
    ai.recordDictation(seconds);
  }
  recordAndWait(1.2);
  recordAndWait(7.0);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u) << "only 1.2 s and 7 s are metered";
  EXPECT_EQ(requests[0].target, "/functions/v1/usage-record");
  EXPECT_EQ(requests[0].header("Authorization"), "Bearer old-access");
  EXPECT_EQ(nlohmann::json::parse(requests[0].body), (nlohmann::json{{"kind", "dictation"}, {"seconds", 2}}));
  EXPECT_TRUE(nlohmann::json::parse(requests[0].body)["seconds"].is_number_integer());
  EXPECT_EQ(nlohmann::json::parse(requests[1].body)["seconds"], 7);
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].ends_with("] ⏱ usage: dictation 2s recorded\n")) << lines[0];
  EXPECT_TRUE(lines[1].ends_with("] ⏱ usage: dictation 7s recorded\n")) << lines[1];

  settings.supabaseAccessToken.set("");
  ai.recordDictation(30);
  loop.runPending();
  EXPECT_EQ(server.requests().size(), 2u) << "signed-out users are not metered";
}

TEST_F(AIServiceTest, MeteringFailuresAreLoggedAndExpiredSessionsRefreshed) {
  server.answer("POST", "/functions/v1/usage-record", 500, R"({"error":"quota"})", "application/json");
  recordAndWait(4.5);
  EXPECT_TRUE(logLines().back().ends_with("] ⚠️ usage-record failed: HTTP 500: quota\n")) << logLines().back();

  server.on("POST", "/functions/v1/usage-record", [](const httplib::Request& request, httplib::Response& response) {
    response.status = request.get_header_value("Authorization") == "Bearer new-access" ? 200 : 401;
  });
  answerRefresh();
  recordAndWait(4.5);
  EXPECT_TRUE(logLines().back().ends_with("] ⏱ usage: dictation 5s recorded\n")) << logLines().back();
  EXPECT_EQ(requestsTo("/functions/v1/usage-record").size(), 3u);
}

TEST_F(AIServiceTest, TokensNeverReachTheLog) {
  const std::string secrets[] = {"old-access", "old-refresh", "signin-access", "signin-refresh", "new-access",
                                 "new-refresh"};
  server.answer("POST", "/auth/v1/token", 200, R"({"access_token":"signin-access","refresh_token":"signin-refresh"})",
                "application/json");
  bool signedIn = false;
  auth.signIn("ada@example.com", "correct horse", [&](auto) { signedIn = true; });
  ASSERT_TRUE(loop.runUntil([&] { return signedIn; }));

  // An expired session renewed for metering, then failures of every kind on the logged paths.
  server.on("POST", "/functions/v1/usage-record", [](const httplib::Request& request, httplib::Response& response) {
    response.status = request.get_header_value("Authorization") == "Bearer new-access" ? 200 : 401;
  });
  answerRefresh();
  recordAndWait(2);
  server.answer("POST", "/functions/v1/usage-record", 401, "{}");
  server.answer("POST", "/auth/v1/token", 400, R"({"error_description":"Invalid Refresh Token"})", "application/json");
  recordAndWait(2);
  server.answer("POST", kCleanupPath, 200, R"({"cleaned":"The speaker says so."})", "application/json");
  (void)cleanup(kTranscript);  // only the lines it logs matter here
  settings.supabaseURL.set("http://127.0.0.1:1");
  aiCleanupEnabled();
  recordAndWait(2);

  const std::string logged = test::readFile(log.file());
  EXPECT_GE(logLines().size(), 5u) << logged;
  for (const auto& secret : secrets) EXPECT_EQ(logged.find(secret), std::string::npos) << secret << " in:\n" << logged;
}

}  // namespace
}  // namespace quillet::dictate
