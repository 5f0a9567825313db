#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/runtime/Published.h"
#include "quillet-dictate/accessibility/PageContext.h"
#include "quillet-dictate/backend/AIPromptTemplate.h"
#include "quillet-dictate/backend/ActionPlan.h"
#include "quillet-dictate/backend/CleanupMode.h"
#include "quillet-dictate/grammar/GrammarError.h"
#include "quillet-dictate/grammar/HarperBridge.h"
#include "quillet-dictate/history/VoiceHistoryItem.h"
#include "quillet-dictate/hud/ConnState.h"
#include "quillet-dictate/hud/ContextInputMode.h"
#include "quillet-dictate/hud/HUDTab.h"
#include "quillet-dictate/hud/WritingStylePreset.h"
#include "quillet-dictate/shell/SettingsManager.h"
#include "quillet-dictate/waveform/VoiceLevels.h"

namespace quillet::dictate {

// Everything the HUD shows, and the actions its view reports, with no behaviour beyond reset(): the session
// controller and the writing and reply flows write it; the HUD view, the capsule's mirror and the grammar
// capsule read it. Every property publishes its changes. Main thread only.
class VoiceVM {
 public:
  // Seeds autoInsert, smartMode, currentMode and currentAITemplate from `settings`, which must outlive it.
  VoiceVM(const SettingsManager& settings, VoiceLevels& levels);
  VoiceVM(const VoiceVM&) = delete;
  VoiceVM& operator=(const VoiceVM&) = delete;

  // Back to the start of a session, in declaration order, re-reading the four settings-derived values so that
  // a change to them reaches the next session. showSettings, writingHarperIssues, levels and the callbacks stay.
  void reset();

  Published<HUDTab> activeTab{HUDTab::speak};
  Published<ContextInputMode> contextInputMode{ContextInputMode::voice};
  Published<bool> isRecording{false};
  Published<bool> isWorking{false};
  Published<std::string> liveText{std::string()};
  Published<std::vector<std::string>> alternatives{{}};
  // Label i names alternative i + 1.
  Published<std::vector<std::string>> altLabels{{}};
  Published<int> selectedIndex{0};
  Published<ConnState> connState{ConnState::idle};
  Published<bool> micDenied{false};
  // The last operation failed; liveText holds the message.
  Published<bool> hadError{false};
  Published<bool> showPromptField{false};
  Published<std::string> customPrompt{std::string()};
  Published<bool> autoInsert;
  Published<CleanupMode> currentMode;
  Published<AIPromptTemplate> currentAITemplate;
  Published<bool> isUsingAIPrompt{false};
  Published<bool> smartMode;
  Published<bool> isRecordingCustomPrompt{false};
  Published<bool> showHistory{false};
  Published<bool> showSettings{false};
  VoiceLevels& levels;
  Published<bool> composeMode{false};
  Published<std::optional<PageContext>> pageContext{std::nullopt};
  Published<std::optional<ActionPlan>> actionPlan{std::nullopt};
  Published<bool> isPlanning{false};
  Published<std::optional<std::string>> selectedActionOption{std::nullopt};
  Published<std::string> intentText{std::string()};
  Published<std::string> typedIntent{std::string()};
  Published<std::string> writingText{std::string()};
  Published<std::vector<GrammarError>> writingIssues{{}};
  Published<std::vector<HarperBridge::Issue>> writingHarperIssues{{}};
  Published<bool> writingChecking{false};
  Published<std::string> writingSource{std::string()};
  Published<WritingStylePreset> writingStyle{WritingStylePreset::clean};
  Published<bool> writingStyleApplying{false};

  // What the view reports; each does nothing until the controller sets it once.
  std::function<void()> onInsert = [] {};
  std::function<void()> onCopy = [] {};
  std::function<void()> onDismiss = [] {};
  std::function<void()> onStop = [] {};
  std::function<void()> onStartSpeak = [] {};
  std::function<void(CleanupMode)> onCleanup = [](CleanupMode) {};
  std::function<void(AIPromptTemplate)> onAITemplate = [](AIPromptTemplate) {};
  std::function<void(const std::string&)> onCustomPrompt = [](const std::string&) {};
  std::function<void()> onCustomPromptMic = [] {};
  std::function<void()> onGenerate = [] {};
  std::function<void(const VoiceHistoryItem&)> onInsertHistory = [](const VoiceHistoryItem&) {};
  std::function<void(const std::string&)> onSubmitTypedIntent = [](const std::string&) {};
  std::function<void()> onStartContextVoice = [] {};
  std::function<void()> onWritingCheck = [] {};
  std::function<void(const GrammarError&)> onWritingFix = [](const GrammarError&) {};
  std::function<void()> onWritingFixAll = [] {};
  std::function<void()> onWritingInsert = [] {};
  std::function<void(WritingStylePreset)> onWritingApplyStyle = [](WritingStylePreset) {};
  std::function<void()> onWritingRegenerate = [] {};
  std::function<void()> onWritingActivated = [] {};
  std::function<void(HUDTab)> onTabChange = [](HUDTab) {};
  std::function<void(const std::string&)> onPickActionOption = [](const std::string&) {};
  std::function<void()> onRegenerateComposed = [] {};
  // How far the header has been dragged from where the drag began, in points.
  std::function<void(double width, double height)> onHeaderDragChanged = [](double, double) {};
  std::function<void()> onHeaderDragEnded = [] {};

 private:
  const SettingsManager& settings_;
};

}  // namespace quillet::dictate
