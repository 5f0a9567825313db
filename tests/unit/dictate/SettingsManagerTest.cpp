#include "quillet-dictate/shell/SettingsManager.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/fake/MemoryDefaultsStore.h"
#include "quillet-dictate/shell/SettingsKeys.h"

namespace quillet::dictate {
namespace {

using platform::DefaultsValue;
using platform::fake::MemoryDefaultsStore;

const SettingsDefaults kTestDefaults{"https://origin.test", "anon-key-for-tests"};

class SettingsManagerTest : public ::testing::Test {
 protected:
  SettingsManager make() { return SettingsManager(store, notifications, kTestDefaults); }

  MemoryDefaultsStore store;
  NotificationCenter notifications;
};

TEST_F(SettingsManagerTest, EmptyStoreGivesEveryDefaultAndOnlyMarksTheMigration) {
  SettingsManager settings(store, notifications, kTestDefaults);

  EXPECT_EQ(settings.supabaseURL.get(), "https://origin.test");
  EXPECT_EQ(settings.supabaseAnonKey.get(), "anon-key-for-tests");
  EXPECT_EQ(settings.supabaseAccessToken.get(), "");
  EXPECT_EQ(settings.supabaseRefreshToken.get(), "");
  EXPECT_EQ(settings.writingStyle.get(), WritingStyle::originalVoice);
  EXPECT_EQ(settings.checkTrigger.get(), CheckTrigger::onPause500ms);
  EXPECT_TRUE(settings.grammarEnabled.get());
  EXPECT_FALSE(settings.showCapsuleAutomatically.get());
  EXPECT_TRUE(settings.voiceAutoInsert.get());
  EXPECT_EQ(settings.voiceDefaultMode.get(), "grammar");
  EXPECT_EQ(settings.voiceAIPromptTemplate.get(), "auto");
  EXPECT_FALSE(settings.voiceSmartMode.get());

  EXPECT_EQ(store.boolValue(settings_key::kHarperAutoCheckMigrated), true);
  EXPECT_EQ(store.writeCount(), 1u) << "loading must not write values back";
}

TEST_F(SettingsManagerTest, StoredValuesLoadByTypeAndMistypedOrUnknownOnesFallBack) {
  EXPECT_EQ(store.set(settings_key::kSupabaseURL, std::string("")), succeeded());
  EXPECT_EQ(store.set(settings_key::kSupabaseAnonKey, std::string("stored-anon")), succeeded());
  EXPECT_EQ(store.set(settings_key::kSupabaseAccessToken, std::string("access")), succeeded());
  EXPECT_EQ(store.set(settings_key::kSupabaseRefreshToken, std::int64_t{42}), succeeded());
  EXPECT_EQ(store.set(settings_key::kWritingStyle, std::string("concise")), succeeded());
  EXPECT_EQ(store.set(settings_key::kCheckTrigger, std::string("pause_2s")), succeeded());
  EXPECT_EQ(store.set(settings_key::kGrammarEnabled, std::string("false")), succeeded());
  EXPECT_EQ(store.set(settings_key::kShowCapsuleAutomatically, true), succeeded());
  EXPECT_EQ(store.set(settings_key::kVoiceAutoInsert, false), succeeded());
  EXPECT_EQ(store.set(settings_key::kVoiceDefaultMode, std::string("not-a-mode")), succeeded());
  EXPECT_EQ(store.set(settings_key::kVoiceAIPromptTemplate, std::string("refactor")), succeeded());
  EXPECT_EQ(store.set(settings_key::kVoiceSmartMode, std::int64_t{1}), succeeded());
  const auto writesBefore = store.writeCount();

  auto settings = make();

  EXPECT_EQ(settings.supabaseURL.get(), "") << "a stored empty string is still a stored string";
  EXPECT_EQ(settings.supabaseAnonKey.get(), "stored-anon");
  EXPECT_EQ(settings.supabaseAccessToken.get(), "access");
  EXPECT_EQ(settings.supabaseRefreshToken.get(), "") << "a number is not a token";
  EXPECT_EQ(settings.writingStyle.get(), WritingStyle::concise);
  EXPECT_EQ(settings.checkTrigger.get(), CheckTrigger::onPause2s);
  EXPECT_TRUE(settings.grammarEnabled.get()) << "a string is not a boolean";
  EXPECT_TRUE(settings.showCapsuleAutomatically.get());
  EXPECT_TRUE(settings.voiceAutoInsert.get()) << "auto-insert starts on at every launch";
  EXPECT_EQ(settings.voiceDefaultMode.get(), "not-a-mode") << "kept unchecked for its readers";
  EXPECT_EQ(settings.voiceAIPromptTemplate.get(), "refactor");
  EXPECT_FALSE(settings.voiceSmartMode.get()) << "an integer is not a boolean";
  EXPECT_EQ(store.writeCount(), writesBefore + 1) << "only the migration flag is written";
}

TEST_F(SettingsManagerTest, UnknownRawValuesFallBackToTheDefaultCase) {
  EXPECT_EQ(store.set(settings_key::kWritingStyle, std::string("Original_Voice")), succeeded());
  EXPECT_EQ(store.set(settings_key::kCheckTrigger, std::string("pause_1s")), succeeded());
  auto settings = make();
  EXPECT_EQ(settings.writingStyle.get(), WritingStyle::originalVoice);
  EXPECT_EQ(settings.checkTrigger.get(), CheckTrigger::onPause500ms);
}

TEST_F(SettingsManagerTest, StoredManualTriggerIsMovedToTheDefaultOnceOnly) {
  EXPECT_EQ(store.set(settings_key::kCheckTrigger, std::string("manual")), succeeded());
  {
    auto settings = make();
    EXPECT_EQ(settings.checkTrigger.get(), CheckTrigger::onPause500ms);
    EXPECT_FALSE(store.contains(settings_key::kCheckTrigger));
    EXPECT_EQ(store.boolValue(settings_key::kHarperAutoCheckMigrated), true);
    // The user now chooses manual on purpose.
    settings.checkTrigger.set(CheckTrigger::manual);
  }
  auto nextLaunch = make();
  EXPECT_EQ(nextLaunch.checkTrigger.get(), CheckTrigger::manual);
  EXPECT_EQ(store.stringValue(settings_key::kCheckTrigger), "manual");
}

TEST_F(SettingsManagerTest, MigrationLeavesOtherTriggersAndTreatsAMistypedFlagAsUnset) {
  EXPECT_EQ(store.set(settings_key::kCheckTrigger, std::string("pause_5s")), succeeded());
  EXPECT_EQ(store.set(settings_key::kHarperAutoCheckMigrated, std::string("true")), succeeded());
  auto settings = make();
  EXPECT_EQ(settings.checkTrigger.get(), CheckTrigger::onPause5s);
  EXPECT_EQ(store.boolValue(settings_key::kHarperAutoCheckMigrated), true);
}

// Assigns `value` twice and checks each assignment reached the store and the observers.
template <class T>
void expectWriteThrough(MemoryDefaultsStore& store, Published<T>& property, const char* key, const T& value,
                        const DefaultsValue& stored) {
  std::vector<T> observed;
  auto subscription = property.observe([&](const T& assigned) { observed.push_back(assigned); });
  EXPECT_EQ(store.remove(key), succeeded());
  const auto writesBefore = store.writeCount();

  property.set(value);
  EXPECT_EQ(store.value(key), stored) << key;
  property.set(value);

  EXPECT_EQ(store.writeCount(), writesBefore + 2) << key << ": an unchanged value is written again";
  EXPECT_EQ(property.get(), value) << key;
  EXPECT_EQ(observed, (std::vector<T>{value, value})) << key;
}

TEST_F(SettingsManagerTest, EveryAssignmentIsWrittenAndPublished) {
  auto settings = make();
  expectWriteThrough<std::string>(store, settings.supabaseURL, settings_key::kSupabaseURL, "https://other.test",
                                  std::string("https://other.test"));
  expectWriteThrough<std::string>(store, settings.supabaseAnonKey, settings_key::kSupabaseAnonKey, "anon",
                                  std::string("anon"));
  expectWriteThrough<std::string>(store, settings.supabaseAccessToken, settings_key::kSupabaseAccessToken, "a",
                                  std::string("a"));
  expectWriteThrough<std::string>(store, settings.supabaseRefreshToken, settings_key::kSupabaseRefreshToken, "",
                                  std::string(""));
  expectWriteThrough(store, settings.writingStyle, settings_key::kWritingStyle, WritingStyle::originalVoice,
                     std::string("original_voice"));
  expectWriteThrough(store, settings.checkTrigger, settings_key::kCheckTrigger, CheckTrigger::onPause800ms,
                     std::string("pause_800ms"));
  expectWriteThrough(store, settings.grammarEnabled, settings_key::kGrammarEnabled, false, DefaultsValue(false));
  expectWriteThrough(store, settings.showCapsuleAutomatically, settings_key::kShowCapsuleAutomatically, true,
                     DefaultsValue(true));
  expectWriteThrough(store, settings.voiceAutoInsert, settings_key::kVoiceAutoInsert, false, DefaultsValue(false));
  expectWriteThrough<std::string>(store, settings.voiceDefaultMode, settings_key::kVoiceDefaultMode, "custom",
                                  std::string("custom"));
  expectWriteThrough<std::string>(store, settings.voiceAIPromptTemplate, settings_key::kVoiceAIPromptTemplate, "ask",
                                  std::string("ask"));
  expectWriteThrough(store, settings.voiceSmartMode, settings_key::kVoiceSmartMode, true, DefaultsValue(true));
}

TEST_F(SettingsManagerTest, CapsuleSwitchPostsItsValueOnEveryAssignmentAfterStoringIt) {
  auto settings = make();
  std::vector<bool> posted;
  std::vector<std::optional<bool>> storedWhenPosted;
  auto subscription = notifications.addObserver("vessio.capsuleVisibilityChanged", [&](const std::any& object) {
    posted.push_back(std::any_cast<bool>(object));
    storedWhenPosted.push_back(store.boolValue(settings_key::kShowCapsuleAutomatically));
  });

  settings.showCapsuleAutomatically.set(true);
  settings.showCapsuleAutomatically.set(true);
  settings.showCapsuleAutomatically.set(false);
  settings.grammarEnabled.set(false);

  EXPECT_EQ(posted, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(storedWhenPosted, (std::vector<std::optional<bool>>{true, true, false}));
}

TEST_F(SettingsManagerTest, AssignmentsMadeTogetherAreStoredInOneWriteOnceAllAreMade) {
  auto settings = make();
  std::vector<std::string> heard;
  auto subscription = settings.supabaseURL.observe([&](const std::string& value) { heard.push_back(value); });
  const auto writesBefore = store.writeCount();
  std::size_t writesWhileAssigning = 0;

  settings.assignTogether([&] {
    settings.supabaseURL.set("https://first.test");
    settings.writingStyle.set(WritingStyle::concise);
    settings.assignTogether([&] { settings.grammarEnabled.set(false); });
    settings.supabaseURL.set("https://second.test");
    // Another thread's assignment is its own and is written straight away.
    std::thread([&] { settings.voiceSmartMode.set(true); }).join();
    writesWhileAssigning = store.writeCount() - writesBefore;
  });

  EXPECT_EQ(writesWhileAssigning, 1U) << "only the other thread's assignment may be written before the end";
  EXPECT_EQ(store.writeCount() - writesBefore, 2U) << "the group, nested one included, is one write";
  EXPECT_EQ(store.stringValue(settings_key::kSupabaseURL), "https://second.test");
  EXPECT_EQ(store.stringValue(settings_key::kWritingStyle), "concise");
  EXPECT_EQ(store.boolValue(settings_key::kGrammarEnabled), false);
  EXPECT_EQ(store.boolValue(settings_key::kVoiceSmartMode), true);
  EXPECT_EQ(heard, (std::vector<std::string>{"https://first.test", "https://second.test"}));

  settings.assignTogether([] {});
  EXPECT_EQ(store.writeCount() - writesBefore, 2U) << "a group that assigned nothing writes nothing";
  settings.grammarEnabled.set(true);
  EXPECT_EQ(store.writeCount() - writesBefore, 3U) << "after the group, assignments write one by one again";
}

TEST(SettingsEnumerationsTest, RawValuesSubtitlesAndDebounces) {
  EXPECT_EQ(kWritingStyleRawValues.allCases(),
            (std::array{WritingStyle::originalVoice, WritingStyle::clear, WritingStyle::professional,
                        WritingStyle::casual, WritingStyle::concise}));
  for (auto style : kWritingStyleRawValues.allCases()) {
    EXPECT_EQ(kWritingStyleRawValues.from(kWritingStyleRawValues.rawValue(style)), style);
    EXPECT_FALSE(subtitle(style).empty());
  }
  EXPECT_EQ(subtitle(WritingStyle::concise), "Fix errors + tighten wordy sentences. Say more with less.");

  const std::pair<CheckTrigger, std::optional<double>> debounces[] = {
      {CheckTrigger::manual, std::nullopt}, {CheckTrigger::onPause500ms, 0.5}, {CheckTrigger::onPause800ms, 0.8},
      {CheckTrigger::onPause2s, 2.0},       {CheckTrigger::onPause5s, 5.0},
  };
  for (const auto& [trigger, seconds] : debounces) {
    EXPECT_EQ(debounceSeconds(trigger), seconds) << kCheckTriggerRawValues.rawValue(trigger);
    EXPECT_EQ(kCheckTriggerRawValues.from(kCheckTriggerRawValues.rawValue(trigger)), trigger);
  }
}

}  // namespace
}  // namespace quillet::dictate
