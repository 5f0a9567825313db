#include "quillet-dictate/backend/AuthErrorText.h"

#include <gtest/gtest.h>

#include "quillet-dictate/backend/VessioAuthError.h"

namespace quillet::dictate {
namespace {

TEST(VessioAuthErrorTest, Descriptions) {
  EXPECT_EQ(VessioAuthError::http(400, "Invalid login credentials").description(), "Invalid login credentials");
  EXPECT_EQ(VessioAuthError::network("Couldn't connect to server").description(),
            "Network error: Couldn't connect to server");
  EXPECT_EQ(VessioAuthError::badResponse().description(), "Unexpected response from server.");
  EXPECT_EQ(VessioAuthError::noRefreshToken().description(), "Not signed in.");
}

TEST(AuthErrorTextTest, ExtractMessageTakesTheFirstTextMemberInOrder) {
  struct Case {
    const char* description;
    std::string body;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"error_description first", R"({"error":"invalid_grant","error_description":"Invalid login credentials"})",
       "Invalid login credentials"},
      {"msg before message", R"({"message":"m","msg":"Password should be at least 6 characters"})",
       "Password should be at least 6 characters"},
      {"a number is skipped", R"({"error":5,"message":"x"})", "x"},
      {"only a number: nothing", R"({"error":5})", std::nullopt},
      {"an object without any: nothing", R"({"code":400})", std::nullopt},
      {"not JSON: the body", "upstream timeout", "upstream timeout"},
      {"a JSON array is not an object: the body", R"(["error"])", R"(["error"])"},
      {"empty body", "", ""},
      {"not UTF-8: nothing", "\xFF\xFE", std::nullopt},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(AuthErrorText::extractMessage(testCase.body), testCase.expected) << testCase.description;
  }
}

TEST(AuthErrorTextTest, FriendlyAuthErrorFirstMatchingRuleWins) {
  struct Case {
    const char* errorDescription;
    AuthMode mode;
    const char* expected;
  };
  const Case cases[] = {
      {"User already registered", AuthMode::signup, "That email already has an account. Try signing in instead."},
      {"A user already exists with this email", AuthMode::signin,
       "That email already has an account. Try signing in instead."},
      {"Invalid login credentials", AuthMode::signin, "Email or password doesn't match. Try again."},
      {"INVALID CREDENTIALS", AuthMode::signup, "Email or password doesn't match. Try again."},
      {"Password should be at least 6 characters", AuthMode::signup, "Password must be at least 8 characters."},
      {"password reset sent 16 minutes ago", AuthMode::signin, "Password must be at least 8 characters."},
      {"Password is too weak", AuthMode::signup, "Couldn't create account: Password is too weak"},
      {"Network error: The Internet connection appears to be offline.", AuthMode::signin,
       "Can't reach the server. Check your internet."},
      {"Connection refused", AuthMode::signup, "Can't reach the server. Check your internet."},
      {"Invalid login credentials over a network", AuthMode::signin, "Email or password doesn't match. Try again."},
      {"Unexpected response from server.", AuthMode::signin, "Couldn't sign in: Unexpected response from server."},
      {"Email Rate Limit Exceeded", AuthMode::signup, "Couldn't create account: Email Rate Limit Exceeded"},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(AuthErrorText::friendlyAuthError(testCase.errorDescription, testCase.mode), testCase.expected)
        << testCase.errorDescription;
  }
}

}  // namespace
}  // namespace quillet::dictate
