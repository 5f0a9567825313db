#include "quillet-dictate/hud/VoiceVM.h"

namespace quillet::dictate {
namespace {

// The cleanup mode and AI template the settings name; a value that names none reads as the first case.
CleanupMode modeIn(const SettingsManager& settings) {
  return kCleanupModeRawValues.from(settings.voiceDefaultMode.get()).value_or(CleanupMode::grammar);
}

AIPromptTemplate templateIn(const SettingsManager& settings) {
  return kAIPromptTemplateRawValues.from(settings.voiceAIPromptTemplate.get()).value_or(AIPromptTemplate::automatic);
}

}  // namespace

VoiceVM::VoiceVM(const SettingsManager& settings, VoiceLevels& voiceLevels)
    : autoInsert(settings.voiceAutoInsert.get()),
      currentMode(modeIn(settings)),
      currentAITemplate(templateIn(settings)),
      smartMode(settings.voiceSmartMode.get()),
      levels(voiceLevels),
      settings_(settings) {}

void VoiceVM::reset() {
  activeTab.set(HUDTab::speak);
  contextInputMode.set(ContextInputMode::voice);
  isRecording.set(false);
  isWorking.set(false);
  liveText.set({});
  alternatives.set({});
  altLabels.set({});
  selectedIndex.set(0);
  connState.set(ConnState::idle);
  micDenied.set(false);
  hadError.set(false);
  showPromptField.set(false);
  customPrompt.set({});
  autoInsert.set(settings_.voiceAutoInsert.get());
  currentMode.set(modeIn(settings_));
  currentAITemplate.set(templateIn(settings_));
  isUsingAIPrompt.set(false);
  smartMode.set(settings_.voiceSmartMode.get());
  isRecordingCustomPrompt.set(false);
  showHistory.set(false);
  composeMode.set(false);
  pageContext.set(std::nullopt);
  actionPlan.set(std::nullopt);
  isPlanning.set(false);
  selectedActionOption.set(std::nullopt);
  intentText.set({});
  typedIntent.set({});
  writingText.set({});
  writingIssues.set({});
  writingChecking.set(false);
  writingSource.set({});
  writingStyle.set(WritingStylePreset::clean);
  writingStyleApplying.set(false);
}

}  // namespace quillet::dictate
