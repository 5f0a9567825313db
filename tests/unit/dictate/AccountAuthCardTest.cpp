// The account form driving the real session client against a loopback stand-in for the backend, over real HTTP.
#include "quillet-dictate/hud/AccountAuthCard.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/curl/CurlHttpClient.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/RepeatedText.h"

namespace quillet::dictate {
namespace {

constexpr const char* kTokens = R"({"access_token":"new-access","refresh_token":"new-refresh"})";

// Holds the server's answers back until the test opens it, so a request can be watched in flight.
class AnswerGate {
 public:
  void open() {
    {
      std::lock_guard lock(mutex_);
      open_ = true;
    }
    opened_.notify_all();
  }

  void wait() {
    std::unique_lock lock(mutex_);
    opened_.wait(lock, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

using test::repeated;

// What a view would read from the card on each change.
struct Snapshot {
  bool working;
  std::string errorMsg;

  bool operator==(const Snapshot&) const = default;
};

class AccountAuthCardTest : public ::testing::Test {
 protected:
  // A server handler blocked on the gate would keep the server from stopping.
  ~AccountAuthCardTest() override { gate.open(); }

  // Answers this path only once the gate is open.
  void answerAfterGate(const std::string& path, int status, std::string body) {
    server.on("POST", path,
              [this, status, body = std::move(body)](const httplib::Request&, httplib::Response& response) {
                gate.wait();
                response.status = status;
                response.set_content(body, "application/json");
              });
  }

  void fill(AuthMode mode, std::string email, std::string password) {
    if (card->mode() != mode) card->toggleMode();
    card->setEmail(std::move(email));
    card->setPassword(std::move(password));
  }

  // Submits and waits on the main loop until the card is no longer working.
  void submitAndWait() {
    card->submit();
    ASSERT_TRUE(loop.runUntil([&] { return !card->working(); }, std::chrono::seconds(30)));
  }

  AnswerGate gate;
  test::LoopbackHttpServer server;
  platform::fake::VirtualMainLoop loop;
  platform::fake::MemoryDefaultsStore store;
  NotificationCenter notifications;
  SettingsManager settings{store, notifications, SettingsDefaults{server.url(""), "anon-key-test"}};
  platform::curl::CurlHttpClient http{loop};
  AuthService auth{http, settings};
  std::shared_ptr<AccountAuthCard> card = AccountAuthCard::create(auth);
};

TEST_F(AccountAuthCardTest, CanSubmitNeedsAnEmailShapeAndEightCharactersAndSubmitDoesNothingOtherwise) {
  struct Case {
    std::string_view name;
    std::string email;
    std::string password;
    bool canSubmit;
  };
  const Case cases[] = {
      {"plain", "ada@example.com", "12345678", true},
      {"at sign but no dot", "ada@example", "12345678", false},
      {"dot but no at sign", "ada.example.com", "12345678", false},
      {"dot and at sign anywhere", ".@", "12345678", true},
      {"blanks around count as typed", "  ada@example.com\t", "12345678", true},
      {"empty email", "", "12345678", false},
      {"password of exactly seven", "ada@example.com", "1234567", false},
      {"seven two-byte characters", "ada@example.com", "ééééééé", false},
      {"seven letters with combining accents", "ada@example.com", repeated("e\u0301", 7), false},
      {"eight emoji sequences", "ada@example.com", repeated("👩\u200D💻", 8), true},
      {"spaces count in the password", "ada@example.com", "   4567 ", true},
  };
  for (const auto& testCase : cases) {
    fill(AuthMode::signin, testCase.email, testCase.password);
    EXPECT_EQ(card->canSubmit(), testCase.canSubmit) << testCase.name;
    if (!testCase.canSubmit) {
      card->submit();
      EXPECT_FALSE(card->working()) << testCase.name;
    }
  }
  loop.runPending();
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(AccountAuthCardTest, SubmitSendsTheTrimmedEmailAndTheUntrimmedPasswordToTheModesEndpoint) {
  struct Case {
    AuthMode mode;
    std::string typedEmail;
    std::string password;
    std::string path;
    std::string sentEmail;
    std::string target;
  };
  const Case cases[] = {
      {AuthMode::signin, " \tada@example.com\t ", " pass word\t", "/auth/v1/token", "ada@example.com",
       "/auth/v1/token?grant_type=password"},
      {AuthMode::signup, "\tnew@example.com  ", "long enough", "/auth/v1/signup", "new@example.com",
       "/auth/v1/signup"},
      {AuthMode::signin, "\nada@example.com\n", "12345678", "/auth/v1/token", "\nada@example.com\n",
       "/auth/v1/token?grant_type=password"},
      {AuthMode::signin, "\u00A0ada@example.com", "12345678", "/auth/v1/token", "\u00A0ada@example.com",
       "/auth/v1/token?grant_type=password"},
  };
  for (std::size_t index = 0; index < std::size(cases); ++index) {
    const auto& testCase = cases[index];
    server.answer("POST", testCase.path, 200, kTokens, "application/json");
    fill(testCase.mode, testCase.typedEmail, testCase.password);
    submitAndWait();
    ASSERT_EQ(server.requests().size(), index + 1) << testCase.target;
    const auto request = server.requests().back();
    EXPECT_EQ(request.target, testCase.target);
    EXPECT_EQ(nlohmann::json::parse(request.body),
              (nlohmann::json{{"email", testCase.sentEmail}, {"password", testCase.password}}))
        << testCase.target;
    EXPECT_EQ(card->errorMsg(), "") << testCase.target;
    EXPECT_EQ(card->email(), testCase.typedEmail) << "the field keeps what was typed";
  }
  EXPECT_EQ(settings.supabaseAccessToken.get(), "new-access");
}

TEST_F(AccountAuthCardTest, FailuresBecomeTheFormsSentences) {
  struct Case {
    std::string_view name;
    AuthMode mode;
    std::string path;
    int status;
    std::string body;
    std::string_view errorMsg;
  };
  const Case cases[] = {
      {"wrong password", AuthMode::signin, "/auth/v1/token", 400,
       R"({"error":"invalid_grant","error_description":"Invalid login credentials"})",
       "Email or password doesn't match. Try again."},
      {"short password", AuthMode::signup, "/auth/v1/signup", 422,
       R"({"code":422,"error_code":"weak_password","msg":"Password should be at least 6 characters."})",
       "Password must be at least 8 characters."},
      {"existing account", AuthMode::signup, "/auth/v1/signup", 422, R"({"msg":"User already registered"})",
       "That email already has an account. Try signing in instead."},
      {"other sign-in failure", AuthMode::signin, "/auth/v1/token", 500, R"({"message":"Database down"})",
       "Couldn't sign in: Database down"},
      {"sign-up without tokens", AuthMode::signup, "/auth/v1/signup", 200, R"({"id":"user-1"})",
       "Couldn't create account: Unexpected response from server."},
  };
  for (const auto& testCase : cases) {
    server.answer("POST", testCase.path, testCase.status, testCase.body, "application/json");
    fill(testCase.mode, "ada@example.com", "12345678");
    submitAndWait();
    EXPECT_EQ(card->errorMsg(), testCase.errorMsg) << testCase.name;
    EXPECT_TRUE(card->canSubmit()) << testCase.name << ": the form can be sent again";
  }
}

TEST_F(AccountAuthCardTest, UnreachableServerAsksToCheckTheConnection) {
  settings.supabaseURL.set("http://127.0.0.1:1");
  fill(AuthMode::signin, "ada@example.com", "12345678");
  submitAndWait();
  EXPECT_EQ(card->errorMsg(), "Can't reach the server. Check your internet.");
}

TEST_F(AccountAuthCardTest, WorkingHoldsWhileInFlightAndTheSentenceFollowsTheSentMode) {
  server.answer("POST", "/auth/v1/token", 400, R"({"error_description":"Invalid login credentials"})",
                "application/json");
  fill(AuthMode::signin, "ada@example.com", "12345678");
  submitAndWait();
  ASSERT_FALSE(card->errorMsg().empty());

  answerAfterGate("/auth/v1/token", 500, R"({"message":"Database down"})");
  std::vector<Snapshot> seen;
  auto subscription = card->observeChanges([&] { seen.push_back({card->working(), card->errorMsg()}); });
  card->submit();
  EXPECT_TRUE(card->working());
  EXPECT_EQ(card->errorMsg(), "") << "submitting clears the previous sentence";
  EXPECT_FALSE(card->canSubmit());
  ASSERT_TRUE(server.waitForRequests(2, std::chrono::seconds(30)));
  card->submit();
  card->toggleMode();
  EXPECT_EQ(card->mode(), AuthMode::signup);

  gate.open();
  ASSERT_TRUE(loop.runUntil([&] { return !card->working(); }, std::chrono::seconds(30)));
  EXPECT_EQ(server.requests().size(), 2u) << "a submit while working sends nothing";
  EXPECT_EQ(card->errorMsg(), "Couldn't sign in: Database down");
  const std::vector<Snapshot> expected = {
      {true, ""}, {true, ""}, {false, "Couldn't sign in: Database down"}};
  EXPECT_EQ(seen, expected) << "submit, toggle, answer";
}

TEST_F(AccountAuthCardTest, ToggleFlipsTheModeAndItsTextsAndClearsOnlyTheSentence) {
  struct Texts {
    AuthMode mode;
    std::string_view title;
    std::string_view submitLabel;
    std::string_view togglePrompt;
    std::string_view toggleAction;
  };
  const Texts signup = {AuthMode::signup, "Create Vessio account", "Create account", "Already have an account?",
                        "Sign in"};
  const Texts signin = {AuthMode::signin, "Sign in to Vessio", "Sign in", "New to Vessio?", "Sign up"};

  server.answer("POST", "/auth/v1/signup", 422, R"({"msg":"User already registered"})", "application/json");
  card->setEmail("ada@example.com");
  card->setPassword("12345678");
  submitAndWait();
  ASSERT_FALSE(card->errorMsg().empty());

  for (const Texts& texts : {signup, signin, signup, signin}) {
    EXPECT_EQ(card->mode(), texts.mode);
    EXPECT_EQ(card->title(), texts.title);
    EXPECT_EQ(card->submitLabel(), texts.submitLabel);
    EXPECT_EQ(card->togglePrompt(), texts.togglePrompt);
    EXPECT_EQ(card->toggleAction(), texts.toggleAction);
    card->toggleMode();
    EXPECT_EQ(card->errorMsg(), "");
    EXPECT_EQ(card->email(), "ada@example.com");
    EXPECT_EQ(card->password(), "12345678");
  }
}

TEST_F(AccountAuthCardTest, EditsNotifyTheView) {
  int changes = 0;
  auto subscription = card->observeChanges([&] { ++changes; });
  card->setEmail("a");
  card->setPassword("b");
  card->toggleMode();
  EXPECT_EQ(changes, 3);
}

TEST_F(AccountAuthCardTest, AnAnswerForAClosedCardTouchesNothing) {
  answerAfterGate("/auth/v1/signup", 200, kTokens);
  int changes = 0;
  auto subscription = card->observeChanges([&] { ++changes; });
  fill(AuthMode::signup, "ada@example.com", "12345678");
  card->submit();
  const int changesBeforeClosing = changes;
  card.reset();

  gate.open();
  // The service stores the tokens in the same main-loop turn in which it hands the answer to the card.
  ASSERT_TRUE(loop.runUntil([&] { return settings.supabaseAccessToken.get() == "new-access"; },
                            std::chrono::seconds(30)));
  EXPECT_EQ(changes, changesBeforeClosing);
}

}  // namespace
}  // namespace quillet::dictate
