// The result side of the session: the final transcript, its automatic correction, rewrites and custom instructions, and
// putting a text into the field, on the clipboard and in the history.
#include <algorithm>
#include <utility>

#include "common/runtime/Weakly.h"
#include "common/text/UnicodeText.h"
#include "quillet-dictate/hud/RewriteLabels.h"
#include "quillet-dictate/hud/VoiceHUD.h"

namespace quillet::dictate {

void VoiceHUD::handleFinalTranscript(const std::string& text) {
  if (didFinalizeTranscript_) {
    dependencies_.log.log("🛡️ handleFinalTranscript: already finalized, skipping duplicate");
    return;
  }
  didFinalizeTranscript_ = true;
  cancelClient();
  std::string transcript = text::trimmedWhitespaceAndNewlines(text);
  if (transcript.empty()) {
    dismissHUD();
    return;
  }
  dependencies_.mainLoop.post(forThisSession([transcript = std::move(transcript)](VoiceHUD& hud) {
    VoiceVM& vm = hud.vm_;
    vm.isWorking.set(false);
    vm.connState.set(ConnState::ready);
    vm.alternatives.set({transcript});
    vm.selectedIndex.set(0);
    vm.liveText.set(transcript);
    if (vm.composeMode.get()) {
      vm.intentText.set(transcript);
      if (hud.flows.planAction) hud.flows.planAction(transcript);
      return;
    }
    if (vm.isUsingAIPrompt.get()) {
      const AIPromptTemplate promptTemplate = vm.currentAITemplate.get();
      hud.runRewrite(std::string(kAIPromptTemplateRawValues.rawValue(promptTemplate)),
                     std::string(kAIPromptTemplateLabels.rawValue(promptTemplate)));
      return;
    }
    hud.correctAutomatically(transcript);
  }));
}

void VoiceHUD::correctAutomatically(const std::string& transcript) {
  dependencies_.ai.fetchAiCleanupEnabled(forThisSession([transcript](VoiceHUD& hud, bool enabled) {
    if (!enabled) {
      if (hud.vm_.autoInsert.get()) hud.insertSelected();
      return;
    }
    hud.dependencies_.ai.cleanupVoiceText(transcript, "grammar", std::nullopt, std::nullopt,
                                          hud.forThisSession([](VoiceHUD& session, AIOutcome<std::string> outcome) {
                                            if (outcome.failed()) {
                                              session.dependencies_.log.log("🛡️ auto-correct cleanup failed (" +
                                                                            outcome.error().description() +
                                                                            ") → inserting raw");
                                            } else {
                                              session.vm_.alternatives.set({outcome.value()});
                                              session.vm_.liveText.set(outcome.value());
                                            }
                                            if (session.vm_.autoInsert.get()) session.insertSelected();
                                          }));
  }));
}

std::string VoiceHUD::rewriteSource() const {
  const auto alternatives = vm_.alternatives.get();
  return text::trimmedWhitespaceAndNewlines(alternatives.empty() ? vm_.liveText.get() : alternatives.front());
}

void VoiceHUD::runRewrite(const std::string& modeRaw, const std::string& label) {
  const std::string source = rewriteSource();
  if (source.empty()) return;
  vm_.isWorking.set(true);
  dependencies_.ai.cleanupVoiceText(source, modeRaw, std::nullopt, std::nullopt,
                                    forThisSession([label](VoiceHUD& hud, AIOutcome<std::string> outcome) {
                                      hud.vm_.isWorking.set(false);
                                      if (outcome.failed()) {
                                        const std::string description = outcome.error().description();
                                        hud.showRewriteFailure("🪄 rewrite(" + label + ") failed: " + description,
                                                               description);
                                        return;
                                      }
                                      hud.adoptRewrite(outcome.value(), label);
                                      if (hud.vm_.autoInsert.get()) hud.insertSelected();
                                    }));
}

void VoiceHUD::runCustomPrompt(const std::string& instruction) {
  const std::string trimmedInstruction = text::trimmedWhitespaceAndNewlines(instruction);
  if (trimmedInstruction.empty()) return;
  const std::string source = rewriteSource();
  if (source.empty()) return;
  vm_.isWorking.set(true);
  dependencies_.ai.cleanupVoiceText(
      source, "custom", trimmedInstruction, std::nullopt,
      forThisSession([](VoiceHUD& hud, AIOutcome<std::string> outcome) {
        hud.vm_.isWorking.set(false);
        if (outcome.failed()) {
          const std::string description = outcome.error().description();
          hud.showRewriteFailure("🪄 custom prompt failed: " + description, description);
          return;
        }
        hud.adoptRewrite(outcome.value(), std::string(kCleanupModeLabels.rawValue(CleanupMode::custom)));
        hud.vm_.showPromptField.set(false);
        hud.vm_.customPrompt.set({});
        if (hud.vm_.autoInsert.get()) hud.insertSelected();
      }));
}

void VoiceHUD::adoptRewrite(const std::string& result, const std::string& label) {
  auto alternatives = vm_.alternatives.get();
  auto labels = vm_.altLabels.get();
  const auto existing = std::find(labels.begin(), labels.end(), label);
  const auto position = std::size_t(existing - labels.begin());
  int selected = 0;
  if (existing != labels.end() && position + 1 < alternatives.size()) {
    alternatives[position + 1] = result;
    selected = int(position + 1);
  } else {
    alternatives.push_back(result);
    if (existing == labels.end()) labels.push_back(label);
    selected = int(alternatives.size() - 1);
  }
  vm_.alternatives.set(std::move(alternatives));
  vm_.altLabels.set(std::move(labels));
  vm_.selectedIndex.set(selected);
  vm_.liveText.set(result);
}

void VoiceHUD::showRewriteFailure(const std::string& logLine, const std::string& description) {
  dependencies_.log.log(logLine);
  vm_.liveText.set("Cleanup failed: " + description);
  vm_.connState.set(ConnState::error);
  vm_.hadError.set(true);
}

void VoiceHUD::generateFromView() {
  if (vm_.isUsingAIPrompt.get()) {
    const AIPromptTemplate promptTemplate = vm_.currentAITemplate.get();
    runRewrite(std::string(kAIPromptTemplateRawValues.rawValue(promptTemplate)),
               std::string(kAIPromptTemplateLabels.rawValue(promptTemplate)));
    return;
  }
  const CleanupMode mode = vm_.currentMode.get();
  if (mode == CleanupMode::custom) {
    vm_.showPromptField.set(true);
    return;
  }
  runRewrite(std::string(kCleanupModeRawValues.rawValue(mode)), std::string(kCleanupModeLabels.rawValue(mode)));
}

void VoiceHUD::toggleCustomPromptRecording() {
  if (vm_.isRecordingCustomPrompt.get()) {
    endCustomPromptRecording();
  } else {
    startCustomPromptRecording();
  }
}

void VoiceHUD::endCustomPromptRecording() {
  dependencies_.streamer.stop();
  if (customPromptWS_) customPromptWS_->finish();
}

void VoiceHUD::startCustomPromptRecording() {
  if (vm_.isRecording.get()) {
    dependencies_.log.log("⚠️ blocked nested recording — primary still active");
    return;
  }
  vm_.isRecordingCustomPrompt.set(true);
  vm_.customPrompt.set({});
  if (customPromptWS_) customPromptWS_->cancel();
  customPromptWS_ = makeClient();
  const auto self = shared_from_this();
  // An older instruction's client ending late must not drop a newer one.
  const ChunkedTranscribeClient* client = customPromptWS_.get();
  const auto endRecording = [client](VoiceHUD& hud) {
    hud.vm_.isRecordingCustomPrompt.set(false);
    if (hud.customPromptWS_.get() == client) hud.customPromptWS_ = nullptr;
  };
  customPromptWS_->onPartial = weakly(self, [client](VoiceHUD& hud, const std::string& text) {
    if (hud.vm_.isRecordingCustomPrompt.get() || hud.customPromptWS_.get() == client) hud.vm_.customPrompt.set(text);
  });
  customPromptWS_->onClosed = weakly(self, endRecording);
  customPromptWS_->onError = weakly(self, [endRecording](VoiceHUD& hud, const ChunkedTranscribeError& error) {
    hud.dependencies_.log.log("🎙 custom prompt stream err: " + error.description());
    endRecording(hud);
  });
  customPromptWS_->connect();
  startStreaming(customPromptWS_, false, dependencies_.microphone.authorization());
}

void VoiceHUD::deliver(const std::string& text, const std::string& pasteboardLogLine,
                       const std::string& insertLogLine) {
  const InsertionTarget target = insertionTarget_.isNone() ? dependencies_.currentTarget() : insertionTarget_;
  if (target.isNone()) {
    dependencies_.log.log(pasteboardLogLine);
    dependencies_.insertion.copyToPasteboard(text);
    return;
  }
  dependencies_.log.log(insertLogLine);
  dependencies_.insertion.insertIntoTarget(text, target);
}

void VoiceHUD::insertSelected() {
  const auto alternatives = vm_.alternatives.get();
  if (alternatives.empty()) return;
  const auto index = std::size_t(std::clamp(vm_.selectedIndex.get(), 0, int(alternatives.size()) - 1));
  const std::string& text = alternatives[index];
  deliver(text,
          "📥 insertSelected: no insertion target for alternative, copying to "
          "pasteboard only",
          "📥 insertSelected: inserting alternative idx=" + std::to_string(index) +
              " len=" + std::to_string(text::characterCount(text)));
  dependencies_.history.add(text, historyModeOf(index, vm_.altLabels.get()));
  dismissHUD();
}

void VoiceHUD::copySelected() {
  const auto alternatives = vm_.alternatives.get();
  const int index = vm_.selectedIndex.get();
  const bool inRange = index >= 0 && std::size_t(index) < alternatives.size();
  const std::string text = inRange ? alternatives[std::size_t(index)] : vm_.liveText.get();
  dependencies_.insertion.copyToPasteboard(text);
  dependencies_.history.add(text, historyModeOf(std::size_t(std::max(index, 0)), vm_.altLabels.get()));
}

void VoiceHUD::insertHistory(const VoiceHistoryItem& item) {
  const std::string text = text::trimmedWhitespaceAndNewlines(item.text);
  if (text.empty()) return;
  deliver(text, "📥 insertHistory: no insertion target, copying to pasteboard only",
          "📥 insertHistory: inserting len=" + std::to_string(text::characterCount(text)));
  dismissHUD();
}

}  // namespace quillet::dictate
