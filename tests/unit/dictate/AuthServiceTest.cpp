// The session client against a loopback stand-in for the backend's auth endpoints, over real HTTP.
#include "quillet-dictate/backend/AuthService.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/curl/CurlHttpClient.h"
#include "tests/support/LoopbackHttpServer.h"

namespace quillet::dictate {
namespace {

constexpr const char* kAnonKey = "anon-key-test";

class AuthServiceTest : public ::testing::Test {
 protected:
  AuthServiceTest() {
    settings.supabaseAccessToken.set("old-access");
    settings.supabaseRefreshToken.set("old-refresh");
  }

  // Runs `operation` and waits on the main loop for its completion; answers its error, if any.
  std::optional<VessioAuthError> await(const std::function<void(AuthService::Completion)>& operation) {
    bool done = false;
    std::optional<VessioAuthError> outcome;
    operation([&](Expected<void, VessioAuthError> result) {
      if (result.failed()) outcome = std::move(result).error();
      done = true;
    });
    EXPECT_TRUE(loop.runUntil([&] { return done; }, std::chrono::seconds(30)));
    return outcome;
  }

  std::optional<VessioAuthError> signIn() {
    return await([&](auto completion) { auth.signIn("ada@example.com", "correct horse", std::move(completion)); });
  }

  test::LoopbackHttpServer server;
  platform::fake::VirtualMainLoop loop;
  platform::fake::MemoryDefaultsStore store;
  NotificationCenter notifications;
  SettingsManager settings{store, notifications, SettingsDefaults{server.url(""), kAnonKey}};
  platform::curl::CurlHttpClient http{loop};
  AuthService auth{http, settings};
};

TEST_F(AuthServiceTest, SignInSendsTheCredentialsWithTheAnonymousKeyAndStoresThePair) {
  server.answer("POST", "/auth/v1/token", 200,
                R"({"access_token":"new-access","refresh_token":"new-refresh","expires_in":3600,"user":{}})",
                "application/json");
  std::vector<std::string> order;
  auto access = settings.supabaseAccessToken.observe([&](const std::string&) { order.push_back("access"); });
  auto refresh = settings.supabaseRefreshToken.observe([&](const std::string&) { order.push_back("refresh"); });

  EXPECT_EQ(signIn(), std::nullopt);

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, "/auth/v1/token?grant_type=password");
  EXPECT_EQ(requests[0].header("apikey"), kAnonKey);
  EXPECT_EQ(requests[0].header("Authorization"), std::string("Bearer ") + kAnonKey);
  EXPECT_EQ(requests[0].header("Content-Type"), "application/json");
  EXPECT_EQ(nlohmann::json::parse(requests[0].body),
            (nlohmann::json{{"email", "ada@example.com"}, {"password", "correct horse"}}));
  EXPECT_EQ(settings.supabaseAccessToken.get(), "new-access");
  EXPECT_EQ(settings.supabaseRefreshToken.get(), "new-refresh");
  EXPECT_EQ(store.stringValue("vantix.supabaseRefreshToken"), "new-refresh");
  EXPECT_EQ(order, (std::vector<std::string>{"access", "refresh"}));
}

TEST_F(AuthServiceTest, FailedSignInsKeepTheStoredPair) {
  struct Case {
    const char* description;
    int status;
    std::string body;
    const char* expected;
  };
  const Case cases[] = {
      {"only an access token", 200, R"({"access_token":"a"})", "Unexpected response from server."},
      {"an empty refresh token", 200, R"({"access_token":"a","refresh_token":""})", "Unexpected response from server."},
      {"a null refresh token", 200, R"({"access_token":"a","refresh_token":null})", "Unexpected response from server."},
      {"a token of the wrong type", 200, R"({"access_token":5,"refresh_token":"r"})", "Unexpected response from server."},
      {"not JSON", 200, "welcome", "Unexpected response from server."},
      {"the server's sentence", 400, R"({"error":"invalid_grant","error_description":"Invalid login credentials"})",
       "Invalid login credentials"},
      {"a number where the sentence would be", 422, R"({"error":5})", "HTTP 422"},
      {"a text body", 503, "upstream unavailable", "upstream unavailable"},
      {"an empty body", 502, "", "HTTP 502"},
  };
  for (const auto& testCase : cases) {
    server.answer("POST", "/auth/v1/token", testCase.status, testCase.body, "application/json");
    const auto error = signIn();
    ASSERT_TRUE(error.has_value()) << testCase.description;
    EXPECT_EQ(error->description(), testCase.expected) << testCase.description;
    EXPECT_EQ(settings.supabaseAccessToken.get(), "old-access") << testCase.description;
    EXPECT_EQ(settings.supabaseRefreshToken.get(), "old-refresh") << testCase.description;
  }
}

TEST_F(AuthServiceTest, SignUpUsesItsOwnPath) {
  server.answer("POST", "/auth/v1/signup", 200, R"({"access_token":"a1","refresh_token":"r1"})", "application/json");
  EXPECT_EQ(await([&](auto completion) { auth.signUp("new@example.com", "long enough", std::move(completion)); }),
            std::nullopt);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].target, "/auth/v1/signup");
  EXPECT_EQ(settings.supabaseAccessToken.get(), "a1");
}

TEST_F(AuthServiceTest, RefreshSendsTheStoredRefreshTokenAndFailsWithoutOne) {
  server.answer("POST", "/auth/v1/token", 200, R"({"access_token":"a2","refresh_token":"r2"})", "application/json");
  EXPECT_EQ(await([&](auto completion) { auth.refresh(std::move(completion)); }), std::nullopt);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].target, "/auth/v1/token?grant_type=refresh_token");
  EXPECT_EQ(server.requests()[0].header("Authorization"), std::string("Bearer ") + kAnonKey)
      << "the anonymous key, not the user's token";
  EXPECT_EQ(nlohmann::json::parse(server.requests()[0].body), (nlohmann::json{{"refresh_token", "old-refresh"}}));
  EXPECT_EQ(settings.supabaseRefreshToken.get(), "r2");

  server.answer("POST", "/auth/v1/token", 400, R"({"error_description":"Invalid Refresh Token"})", "application/json");
  const auto failed = await([&](auto completion) { auth.refresh(std::move(completion)); });
  ASSERT_TRUE(failed.has_value());
  EXPECT_EQ(failed->description(), "Invalid Refresh Token");
  EXPECT_EQ(settings.supabaseAccessToken.get(), "a2") << "a failed refresh does not sign out";

  auth.signOut();
  EXPECT_EQ(settings.supabaseAccessToken.get(), "");
  EXPECT_EQ(store.stringValue("vantix.supabaseRefreshToken"), "");
  const auto noToken = await([&](auto completion) { auth.refresh(std::move(completion)); });
  ASSERT_TRUE(noToken.has_value());
  EXPECT_EQ(noToken->description(), "Not signed in.");
  EXPECT_EQ(server.requests().size(), 2u) << "no request without a refresh token";
}

TEST_F(AuthServiceTest, TransportFailuresAndBadAddressesAreNetworkErrors) {
  settings.supabaseURL.set("http://127.0.0.1:1");
  auto error = signIn();
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->kind, VessioAuthError::Kind::network);
  EXPECT_TRUE(error->description().starts_with("Network error: ")) << error->description();

  settings.supabaseURL.set("https://bad host");
  error = signIn();
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->description(), "Network error: bad URL");
  EXPECT_TRUE(server.requests().empty());
}

TEST(AuthServiceDecodeTest, TokensNeedBothMembersAsNonEmptyText) {
  using Tokens = std::pair<std::string, std::string>;
  const auto decoded = AuthService::decodeTokens(R"({"access_token":"a","refresh_token":"r","x":1})");
  ASSERT_TRUE(decoded.hasValue());
  EXPECT_EQ(decoded.value(), Tokens("a", "r"));
  EXPECT_TRUE(AuthService::decodeTokens(R"([{"access_token":"a"}])").failed());
  EXPECT_TRUE(AuthService::decodeTokens("").failed());
}

}  // namespace
}  // namespace quillet::dictate
