#include <gtest/gtest.h>

#include <string>

#include "quillet-dictate/backend/AIService.h"
#include "quillet-dictate/backend/VessioError.h"

namespace quillet::dictate {
namespace {

TEST(VessioErrorTest, DescriptionsAreTheTextsTheHudShows) {
  const std::pair<VessioError, const char*> cases[] = {
      {VessioError::api("bad URL"), "bad URL"},
      {VessioError::decode("dictate-cleanup: missing 'cleaned' field"),
       "Parse error: dictate-cleanup: missing 'cleaned' field"},
      {VessioError::httpStatus(500, "quota"), "HTTP 500: quota"},
      {VessioError::httpStatus(502, ""), "HTTP 502: "},
      {VessioError::noApiKey(), "Sign in to Vessio to use grammar and voice."},
      {VessioError::signedOut(), "Your session expired. Sign in again."},
  };
  for (const auto& [error, description] : cases) EXPECT_EQ(error.description(), description);
}

TEST(AIServiceErrorTest, OnlyStatus200SucceedsAndErrorBodiesBecomeMessages) {
  struct Case {
    const char* description;
    int status;
    std::string body;
    std::optional<std::string> expected;  // the error's description; nothing for success
  };
  const Case cases[] = {
      {"200 succeeds whatever the body", 200, "not json", std::nullopt},
      {"201 is an error carrying its body", 201, R"({"cleaned":"x"})", "HTTP 201: {\"cleaned\":\"x\"}"},
      {"204 with no body has an empty message", 204, "", "HTTP 204: "},
      {"401 is an expired session, message dropped", 401, R"({"error":"jwt expired"})",
       "Your session expired. Sign in again."},
      {"the string member error is the message", 500, R"({"error":"quota"})", "HTTP 500: quota"},
      {"an error member that is not a string gives the whole body", 500, R"({"error":5})", "HTTP 500: {\"error\":5}"},
      {"an object without error gives the whole body", 400, R"({"message":"bad"})", "HTTP 400: {\"message\":\"bad\"}"},
      {"a JSON array gives the whole body", 500, R"(["error"])", "HTTP 500: [\"error\"]"},
      {"an HTML page is carried whole", 502, "<html><body>Bad gateway</body></html>",
       "HTTP 502: <html><body>Bad gateway</body></html>"},
      {"a body that is not UTF-8 gives the status text", 500, "\xFF\xFE\xFD", "HTTP 500: status 500"},
      {"valid UTF-8 that is not JSON", 503, "Service unavailable \xE2\x80\x94 retry", "HTTP 503: Service unavailable \xE2\x80\x94 retry"},
  };
  for (const auto& testCase : cases) {
    const auto error = AIService::throwIfHTTPError(testCase.status, testCase.body);
    ASSERT_EQ(error.failed(), testCase.expected.has_value()) << testCase.description;
    if (error.failed()) {
      EXPECT_EQ(error.error().description(), *testCase.expected) << testCase.description;
    }
  }
  EXPECT_EQ(AIService::throwIfHTTPError(401, "").error().kind, VessioError::Kind::signedOut);
  EXPECT_EQ(AIService::throwIfHTTPError(403, "").error().kind, VessioError::Kind::httpStatus);
}

TEST(AIServiceErrorTest, ExtractErrorMessage) {
  EXPECT_EQ(AIService::extractErrorMessage(R"({"error":"quota","detail":"x"})"), "quota");
  EXPECT_EQ(AIService::extractErrorMessage(R"({"error":""})"), "");
  EXPECT_EQ(AIService::extractErrorMessage(""), "");
  EXPECT_EQ(AIService::extractErrorMessage("plain"), "plain");
  EXPECT_EQ(AIService::extractErrorMessage(R"({"error":null})"), R"({"error":null})");
  EXPECT_EQ(AIService::extractErrorMessage("\xC0\xAF"), std::nullopt);
}

}  // namespace
}  // namespace quillet::dictate
