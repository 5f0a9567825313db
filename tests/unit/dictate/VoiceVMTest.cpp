#include "quillet-dictate/hud/VoiceVM.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/fake/VirtualMainLoop.h"
#include "quillet-dictate/shell/SettingsKeys.h"

namespace quillet::dictate {
namespace {

// The model on an in-memory settings store, with what the host stored before the agent started.
struct ModelFixture {
  explicit ModelFixture(const platform::DefaultsEntries& stored = {}) : seeded(store.setMany(stored)) {}

  platform::fake::MemoryDefaultsStore store;
  // Stored before the settings load, as the host's values are.
  Status seeded;
  NotificationCenter notifications;
  SettingsManager settings{store, notifications, SettingsDefaults{"https://origin.test", "anon"}};
  platform::fake::VirtualMainLoop loop;
  VoiceLevels levels{loop};
  VoiceVM model{settings, levels};
};

// Every property reset() touches, set away from its reset value.
void disturb(VoiceVM& model) {
  model.activeTab.set(HUDTab::writing);
  model.contextInputMode.set(ContextInputMode::write);
  model.isRecording.set(true);
  model.isWorking.set(true);
  model.liveText.set("Listening…");
  model.alternatives.set({"a", "b"});
  model.altLabels.set({"Pro"});
  model.selectedIndex.set(1);
  model.connState.set(ConnState::error);
  model.micDenied.set(true);
  model.hadError.set(true);
  model.showPromptField.set(true);
  model.customPrompt.set("shorter");
  model.autoInsert.set(false);
  model.currentMode.set(CleanupMode::casual);
  model.currentAITemplate.set(AIPromptTemplate::fix);
  model.isUsingAIPrompt.set(true);
  model.smartMode.set(true);
  model.isRecordingCustomPrompt.set(true);
  model.showHistory.set(true);
  model.composeMode.set(true);
  model.pageContext.set(PageContext{});
  model.actionPlan.set(ActionPlan{"a reading", {{"Accept", "they asked"}}});
  model.isPlanning.set(true);
  model.selectedActionOption.set("Accept");
  model.intentText.set("say yes");
  model.typedIntent.set("yes");
  model.writingText.set("draft");
  model.writingIssues.set({GrammarError{"ID", "teh", "the", "spelling", "A typo."}});
  model.writingChecking.set(true);
  model.writingSource.set("source");
  model.writingStyle.set(WritingStylePreset::concise);
  model.writingStyleApplying.set(true);
}

TEST(VoiceVMTest, StartsAndResetsToTheSessionStartAndKeepsSettingsPanelCheckerIssuesAndCallbacks) {
  ModelFixture fixture;
  VoiceVM& model = fixture.model;
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round == 0 ? "as created" : "after reset");
    EXPECT_EQ(model.activeTab.get(), HUDTab::speak);
    EXPECT_EQ(model.contextInputMode.get(), ContextInputMode::voice);
    EXPECT_FALSE(model.isRecording.get());
    EXPECT_FALSE(model.isWorking.get());
    EXPECT_EQ(model.liveText.get(), "");
    EXPECT_TRUE(model.alternatives.get().empty());
    EXPECT_TRUE(model.altLabels.get().empty());
    EXPECT_EQ(model.selectedIndex.get(), 0);
    EXPECT_EQ(model.connState.get(), ConnState::idle);
    EXPECT_FALSE(model.micDenied.get());
    EXPECT_FALSE(model.hadError.get());
    EXPECT_FALSE(model.showPromptField.get());
    EXPECT_EQ(model.customPrompt.get(), "");
    EXPECT_TRUE(model.autoInsert.get()) << "every start begins with auto-insert on";
    EXPECT_EQ(model.currentMode.get(), CleanupMode::grammar);
    EXPECT_EQ(model.currentAITemplate.get(), AIPromptTemplate::automatic);
    EXPECT_FALSE(model.isUsingAIPrompt.get());
    EXPECT_FALSE(model.smartMode.get());
    EXPECT_FALSE(model.isRecordingCustomPrompt.get());
    EXPECT_FALSE(model.showHistory.get());
    EXPECT_FALSE(model.composeMode.get());
    EXPECT_EQ(model.pageContext.get(), std::nullopt);
    EXPECT_EQ(model.actionPlan.get(), std::nullopt);
    EXPECT_FALSE(model.isPlanning.get());
    EXPECT_EQ(model.selectedActionOption.get(), std::nullopt);
    EXPECT_EQ(model.intentText.get(), "");
    EXPECT_EQ(model.typedIntent.get(), "");
    EXPECT_EQ(model.writingText.get(), "");
    EXPECT_TRUE(model.writingIssues.get().empty());
    EXPECT_FALSE(model.writingChecking.get());
    EXPECT_EQ(model.writingSource.get(), "");
    EXPECT_EQ(model.writingStyle.get(), WritingStylePreset::clean);
    EXPECT_FALSE(model.writingStyleApplying.get());
    EXPECT_EQ(&model.levels, &fixture.levels);

    disturb(model);
    model.showSettings.set(true);
    model.writingHarperIssues.set({HarperBridge::Issue{0, 3, "Did you mean “the”?", "the", "Spelling"}});
    int inserts = 0;
    model.onInsert = [&inserts] { ++inserts; };
    model.reset();
    EXPECT_TRUE(model.showSettings.get()) << "reset keeps the settings panel open";
    EXPECT_EQ(model.writingHarperIssues.get().size(), 1U) << "reset keeps the checker's issues";
    model.onInsert();
    EXPECT_EQ(inserts, 1) << "reset keeps the callbacks";
    model.showSettings.set(false);
  }
}

TEST(VoiceVMTest, SettingsSeedTheModeTemplateAndSwitchesAtStartAndAtEveryReset) {
  ModelFixture fixture({{settings_key::kVoiceDefaultMode, std::string("not-a-mode")},
                        {settings_key::kVoiceAIPromptTemplate, std::string("refactor")},
                        {settings_key::kVoiceSmartMode, true},
                        {settings_key::kVoiceAutoInsert, false}});
  ASSERT_EQ(fixture.seeded, succeeded());
  VoiceVM& model = fixture.model;
  EXPECT_EQ(model.currentMode.get(), CleanupMode::grammar) << "a string that is not a mode reads as grammar";
  EXPECT_EQ(model.currentAITemplate.get(), AIPromptTemplate::refactor);
  EXPECT_TRUE(model.smartMode.get());
  EXPECT_TRUE(model.autoInsert.get()) << "the stored auto-insert is not loaded at start";

  // Changed while the HUD is hidden: the next session's reset picks them up.
  fixture.settings.voiceSmartMode.set(false);
  fixture.settings.voiceAutoInsert.set(false);
  fixture.settings.voiceDefaultMode.set("concise");
  fixture.settings.voiceAIPromptTemplate.set("nonsense");
  EXPECT_TRUE(model.smartMode.get()) << "nothing changes before the reset";
  model.reset();
  EXPECT_FALSE(model.smartMode.get());
  EXPECT_FALSE(model.autoInsert.get());
  EXPECT_EQ(model.currentMode.get(), CleanupMode::concise);
  EXPECT_EQ(model.currentAITemplate.get(), AIPromptTemplate::automatic);
}

TEST(VoiceVMTest, ResetPublishesEveryPropertyItSetsAndNotTheOnesItKeeps) {
  ModelFixture fixture;
  std::vector<std::string> heard;
  const auto isRecording = fixture.model.isRecording.observe([&](bool) { heard.emplace_back("isRecording"); });
  const auto liveText = fixture.model.liveText.observe([&](const std::string&) { heard.emplace_back("liveText"); });
  const auto settings = fixture.model.showSettings.observe([&](bool) { heard.emplace_back("showSettings"); });
  fixture.model.reset();
  EXPECT_EQ(heard, (std::vector<std::string>{"isRecording", "liveText"})) << "in declaration order";
}

TEST(VoiceVMTest, TheTabsInputModesAndStylesKeepTheirRawValues) {
  EXPECT_EQ(kHUDTabRawValues.rawValue(HUDTab::writing), "Writing");
  EXPECT_EQ(kHUDTabRawValues.rawValue(HUDTab::speak), "Speak");
  EXPECT_EQ(kHUDTabRawValues.rawValue(HUDTab::action), "Action");
  EXPECT_EQ(kContextInputModeRawValues.rawValue(ContextInputMode::write), "Write");
  EXPECT_EQ(kContextInputModeRawValues.rawValue(ContextInputMode::voice), "Voice");
  const std::vector<std::string_view> styles = {"original", "clean", "professional", "casual", "concise"};
  const auto cases = kWritingStylePresetRawValues.allCases();
  ASSERT_EQ(cases.size(), styles.size());
  for (std::size_t index = 0; index < cases.size(); ++index) {
    EXPECT_EQ(kWritingStylePresetRawValues.rawValue(cases[index]), styles[index]);
    EXPECT_EQ(kWritingStylePresetRawValues.from(styles[index]), cases[index]);
  }
}

}  // namespace
}  // namespace quillet::dictate
