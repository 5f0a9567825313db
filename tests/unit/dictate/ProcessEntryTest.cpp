#include "quillet-dictate/shell/ProcessEntry.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/fake/VirtualMainLoop.h"
#include "quillet-dictate/shell/SettingsKeys.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

using Environment = std::map<std::string, std::string>;

const SettingsDefaults kTestDefaults{"https://default.test", "default-anon"};
const char* const kSessionLine = "🔑 session tokens received from the app (muse enabled)";

class ProcessEntryTest : public ::testing::Test {
 protected:
  // Runs the entry step with `environment`, counting how often each variable was read.
  bool apply(const Environment& environment, SettingsManager& settings) {
    return ProcessEntry::applyEnvironment(
        [&](const char* name) -> std::optional<std::string> {
          ++reads[name];
          auto found = environment.find(name);
          if (found == environment.end()) return std::nullopt;
          return found->second;
        },
        settings, log);
  }

  platform::fake::MemoryDefaultsStore store;
  NotificationCenter notifications;
  platform::fake::VirtualMainLoop clock;
  test::TemporaryDirectory folder;
  std::string logged;
  VxLog log{folder.path() / "vessio.log", clock, [this](std::string_view line) { logged.append(line); }};
  std::map<std::string, int> reads;
};

TEST_F(ProcessEntryTest, AcceptanceRulesOfEachVariable) {
  struct Case {
    const char* description;
    Environment environment;
    const char* url;
    const char* anonKey;
    const char* accessToken;
    const char* refreshToken;
    bool sessionLogged;
    // Writes that reached the store: all accepted values go in one, and nothing accepted writes nothing.
    std::size_t writes;
  };
  const Case cases[] = {
      {"nothing set", {}, "https://default.test", "default-anon", "", "", false, 0},
      {"everything set",
       {{"QL_SUPABASE_URL", "https://project.test/"}, {"QL_ANON_KEY", "anon"}, {"QL_ACCESS_TOKEN", "access"},
        {"QL_REFRESH_TOKEN", "refresh"}},
       "https://project.test/", "anon", "access", "refresh", true, 1},
      {"http origin ignored", {{"QL_SUPABASE_URL", "http://project.test"}}, "https://default.test", "default-anon", "",
       "", false, 0},
      {"scheme is case-sensitive", {{"QL_SUPABASE_URL", "HTTPS://project.test"}}, "https://default.test",
       "default-anon", "", "", false, 0},
      {"value taken as is", {{"QL_SUPABASE_URL", "https:// spaced "}}, "https:// spaced ", "default-anon", "", "",
       false, 1},
      {"empty values ignored",
       {{"QL_SUPABASE_URL", ""}, {"QL_ANON_KEY", ""}, {"QL_ACCESS_TOKEN", ""}, {"QL_REFRESH_TOKEN", "refresh"}},
       "https://default.test", "default-anon", "", "", false, 0},
      {"refresh token without access token ignored", {{"QL_REFRESH_TOKEN", "refresh"}}, "https://default.test",
       "default-anon", "", "", false, 0},
      {"access token alone", {{"QL_ACCESS_TOKEN", "access"}}, "https://default.test", "default-anon", "access", "",
       true, 1},
      {"access token with empty refresh token", {{"QL_ACCESS_TOKEN", "access"}, {"QL_REFRESH_TOKEN", ""}},
       "https://default.test", "default-anon", "access", "", true, 1},
  };
  for (const auto& testCase : cases) {
    platform::fake::MemoryDefaultsStore freshStore;
    SettingsManager settings(freshStore, notifications, kTestDefaults);
    logged.clear();
    const std::size_t writesBefore = freshStore.writeCount();

    EXPECT_EQ(apply(testCase.environment, settings), testCase.sessionLogged) << testCase.description;
    EXPECT_EQ(freshStore.writeCount() - writesBefore, testCase.writes) << testCase.description;

    EXPECT_EQ(settings.supabaseURL.get(), testCase.url) << testCase.description;
    EXPECT_EQ(settings.supabaseAnonKey.get(), testCase.anonKey) << testCase.description;
    EXPECT_EQ(settings.supabaseAccessToken.get(), testCase.accessToken) << testCase.description;
    EXPECT_EQ(settings.supabaseRefreshToken.get(), testCase.refreshToken) << testCase.description;
    // What was accepted is what reached the store; nothing else was written there.
    EXPECT_EQ(freshStore.stringValue(settings_key::kSupabaseURL).value_or(kTestDefaults.backendOrigin), testCase.url)
        << testCase.description;
    EXPECT_EQ(freshStore.stringValue(settings_key::kSupabaseAnonKey).value_or(kTestDefaults.anonKey),
              testCase.anonKey)
        << testCase.description;
    EXPECT_EQ(freshStore.stringValue(settings_key::kSupabaseAccessToken).value_or(""), testCase.accessToken)
        << testCase.description;
    EXPECT_EQ(freshStore.stringValue(settings_key::kSupabaseRefreshToken).value_or(""), testCase.refreshToken)
        << testCase.description;
    EXPECT_EQ(logged, testCase.sessionLogged ? VxLog::formatLine(clock.wallNow(), kSessionLine) : "")
        << testCase.description;
    if (!testCase.sessionLogged) {
      EXPECT_FALSE(freshStore.contains(settings_key::kSupabaseAccessToken)) << testCase.description;
      EXPECT_FALSE(freshStore.contains(settings_key::kSupabaseRefreshToken)) << testCase.description;
    }
  }
}

TEST_F(ProcessEntryTest, RejectedVariablesKeepTheStoredValues) {
  EXPECT_EQ(store.set(settings_key::kSupabaseURL, std::string("https://stored.test")), succeeded());
  EXPECT_EQ(store.set(settings_key::kSupabaseRefreshToken, std::string("stored-refresh")), succeeded());
  SettingsManager settings(store, notifications, kTestDefaults);
  apply({{"QL_SUPABASE_URL", "ftp://elsewhere"}, {"QL_REFRESH_TOKEN", "new-refresh"}}, settings);
  EXPECT_EQ(settings.supabaseURL.get(), "https://stored.test");
  EXPECT_EQ(settings.supabaseRefreshToken.get(), "stored-refresh");
}

TEST_F(ProcessEntryTest, AcceptedValuesPersistToALaterLaunchWithoutTheVariables) {
  {
    SettingsManager firstLaunch(store, notifications, kTestDefaults);
    apply({{"QL_SUPABASE_URL", "https://project.test"}, {"QL_ACCESS_TOKEN", "access"}, {"QL_REFRESH_TOKEN", "refresh"}},
          firstLaunch);
  }
  SettingsManager secondLaunch(store, notifications, kTestDefaults);
  logged.clear();
  EXPECT_FALSE(apply({}, secondLaunch));
  EXPECT_EQ(secondLaunch.supabaseURL.get(), "https://project.test");
  EXPECT_EQ(secondLaunch.supabaseAccessToken.get(), "access");
  EXPECT_EQ(secondLaunch.supabaseRefreshToken.get(), "refresh");
  EXPECT_EQ(logged, "");
}

TEST_F(ProcessEntryTest, VariablesAreReadOnceInOrderAndTheSessionLineComesLast) {
  SettingsManager settings(store, notifications, kTestDefaults);
  std::vector<std::string> events;
  auto record = [&](const char* name) { return [&events, name](const std::string&) { events.push_back(name); }; };
  auto url = settings.supabaseURL.observe(record("url"));
  auto anonKey = settings.supabaseAnonKey.observe(record("anon"));
  auto access = settings.supabaseAccessToken.observe(record("access"));
  auto refresh = settings.supabaseRefreshToken.observe(record("refresh"));
  VxLog orderLog(folder.path() / "order.log", clock, [&](std::string_view) { events.push_back("log"); });

  ProcessEntry::applyEnvironment(
      [&](const char* name) -> std::optional<std::string> {
        ++reads[name];
        return std::string("https://value");
      },
      settings, orderLog);

  EXPECT_EQ(events, (std::vector<std::string>{"url", "anon", "access", "refresh", "log"}));
  EXPECT_EQ(reads, (std::map<std::string, int>{
                       {"QL_SUPABASE_URL", 1}, {"QL_ANON_KEY", 1}, {"QL_ACCESS_TOKEN", 1}, {"QL_REFRESH_TOKEN", 1}}));
}

}  // namespace
}  // namespace quillet::dictate
