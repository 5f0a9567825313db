#include "quillet-dictate/hud/VoiceHUD.h"

#include <utility>

#include "common/runtime/Weakly.h"
#include "common/text/UnicodeText.h"
#include "quillet-dictate/hud/RewriteLabels.h"

namespace quillet::dictate {
namespace {

// The tab as the start line names it: its title in lower case.
std::string tabName(HUDTab tab) { return text::lowercased(kHUDTabRawValues.rawValue(tab)); }

std::string flag(bool value) { return value ? "true" : "false"; }

// A live text that is only a placeholder carries no speech.
bool isUsableTranscript(const std::string& trimmed) {
  return !trimmed.empty() && trimmed != VoiceHUD::kConnecting && trimmed != VoiceHUD::kListening &&
         trimmed != VoiceHUD::kTranscribing;
}

}  // namespace

std::shared_ptr<VoiceHUD> VoiceHUD::create(Dependencies dependencies) {
  std::shared_ptr<VoiceHUD> hud(new VoiceHUD(std::move(dependencies)));
  hud->connectModel();
  return hud;
}

VoiceHUD::VoiceHUD(Dependencies dependencies)
    : dependencies_(std::move(dependencies)), levels_(dependencies_.clock), vm_(dependencies_.settings, levels_) {}

VoiceHUD::~VoiceHUD() {
  if (ws_) ws_->cancel();
  if (customPromptWS_) customPromptWS_->cancel();
  maxSessionTimer_.cancel();
  noTargetPromptDismiss_.cancel();
  if (keyMonitorInstalled_) dependencies_.windows.keys.remove();
  if (vm_.isRecording.get() || vm_.isRecordingCustomPrompt.get()) dependencies_.streamer.stop();
}

void VoiceHUD::connectModel() {
  const auto self = shared_from_this();
  vm_.onInsert = weakly(self, [](VoiceHUD& hud) { hud.insertSelected(); });
  vm_.onCopy = weakly(self, [](VoiceHUD& hud) { hud.copySelected(); });
  vm_.onDismiss = weakly(self, [](VoiceHUD& hud) { hud.dismissHUD(); });
  vm_.onStop = weakly(self, [](VoiceHUD& hud) { hud.stop(); });
  vm_.onStartSpeak = weakly(self, [](VoiceHUD& hud) { hud.startSpeakInPlace(); });
  vm_.onCleanup = weakly(self, [](VoiceHUD& hud, CleanupMode mode) {
    hud.runRewrite(std::string(kCleanupModeRawValues.rawValue(mode)), std::string(kCleanupModeLabels.rawValue(mode)));
  });
  vm_.onAITemplate = weakly(self, [](VoiceHUD& hud, AIPromptTemplate promptTemplate) {
    hud.runRewrite(std::string(kAIPromptTemplateRawValues.rawValue(promptTemplate)),
                   std::string(kAIPromptTemplateLabels.rawValue(promptTemplate)));
  });
  vm_.onCustomPrompt = weakly(self, [](VoiceHUD& hud, const std::string& text) { hud.runCustomPrompt(text); });
  vm_.onCustomPromptMic = weakly(self, [](VoiceHUD& hud) { hud.toggleCustomPromptRecording(); });
  vm_.onGenerate = weakly(self, [](VoiceHUD& hud) { hud.generateFromView(); });
  vm_.onInsertHistory = weakly(self, [](VoiceHUD& hud, const VoiceHistoryItem& item) { hud.insertHistory(item); });
  vm_.onTabChange = weakly(self, [](VoiceHUD& hud, HUDTab tab) { hud.handleTabChange(tab); });
  vm_.onStartContextVoice = weakly(self, [](VoiceHUD& hud) { hud.startContextVoice(); });
  vm_.onHeaderDragChanged =
      weakly(self, [](VoiceHUD& hud, double width, double height) { hud.moveByHeaderDrag(width, height); });
  vm_.onHeaderDragEnded = weakly(self, [](VoiceHUD& hud) {
    hud.lastHeaderDragWidth_ = 0;
    hud.lastHeaderDragHeight_ = 0;
  });
}

void VoiceHUD::toggle() {
  if (vm_.isRecording.get()) {
    stop();
    return;
  }
  // A HUD that is fading out has already given its result away; the shortcut starts afresh.
  if (!isDismissing_ && !vm_.alternatives.get().empty()) {
    insertSelected();
    return;
  }
  if (!isDismissing_ && dependencies_.windows.window.isVisible()) {
    if (vm_.activeTab.get() == HUDTab::action) {
      startContextVoice();
    } else {
      startSpeakInPlace();
    }
    return;
  }
  InsertionTarget target = dependencies_.currentTarget();
  if (target.isNone()) {
    showNoTargetPrompt();
    return;
  }
  insertionTarget_ = std::move(target);
  beginRecordingSession({.reanchorHUD = true,
                         .activeTab = HUDTab::speak,
                         .composeMode = false,
                         .pageContext = std::nullopt,
                         .preserveSelectionState = false,
                         .showPanel = false});
}

void VoiceHUD::startSpeakInPlace() {
  dependencies_.log.log("🎯 startSpeakInPlace: preserving existing insertion target");
  beginRecordingSession({.reanchorHUD = false,
                         .activeTab = HUDTab::speak,
                         .composeMode = false,
                         .pageContext = std::nullopt,
                         .preserveSelectionState = true,
                         .showPanel = true});
}

void VoiceHUD::startContextVoice() {
  std::optional<PageContext> context = vm_.pageContext.get();
  if (!context && dependencies_.captureContext) context = dependencies_.captureContext();
  beginRecordingSession({.reanchorHUD = false,
                         .activeTab = HUDTab::action,
                         .composeMode = true,
                         .pageContext = std::move(context),
                         .preserveSelectionState = true,
                         .showPanel = true});
}

void VoiceHUD::beginRecordingSession(SessionRequest request) {
  // Read once: the streamer is handed the same answer instead of asking the sound server again.
  const platform::MicAuthorization authorization = dependencies_.microphone.authorization();
  const int micAuthorization = static_cast<int>(authorization);
  dependencies_.log.log("▶️ START dictation: tab=" + tabName(request.activeTab) +
                        " compose=" + flag(request.composeMode) + " panel=" + flag(request.showPanel) +
                        " micAuth=" + std::to_string(micAuthorization));

  const bool wasUsingAIPrompt = vm_.isUsingAIPrompt.get();
  const CleanupMode previousMode = vm_.currentMode.get();
  const AIPromptTemplate previousTemplate = vm_.currentAITemplate.get();
  const ContextInputMode previousInputMode = vm_.contextInputMode.get();

  ++sessionNumber_;
  isDismissing_ = false;
  cancelClient();
  dependencies_.streamer.stop();
  cancelMaxSessionTimer();

  vm_.reset();
  isFinalizing_ = false;
  didFinalizeTranscript_ = false;

  vm_.activeTab.set(request.activeTab);
  vm_.composeMode.set(request.composeMode);
  vm_.pageContext.set(std::move(request.pageContext));
  if (request.preserveSelectionState) {
    vm_.isUsingAIPrompt.set(wasUsingAIPrompt);
    vm_.currentMode.set(previousMode);
    vm_.currentAITemplate.set(previousTemplate);
    vm_.contextInputMode.set(previousInputMode);
  }

  if (request.showPanel) presentPanel(request.reanchorHUD);
  installKeyMonitor();

  vm_.isRecording.set(true);
  vm_.connState.set(ConnState::connecting);
  vm_.liveText.set(std::string(kConnecting));

  if (vm_.smartMode.get() && !request.composeMode && !request.preserveSelectionState) {
    const std::string bundle = dependencies_.currentBundleID();
    const bool aiPrompt = isDevPromptApp(bundle);
    vm_.isUsingAIPrompt.set(aiPrompt);
    dependencies_.log.log("🧠 Smart mode: bundle=" + bundle + " → " + (aiPrompt ? "AI Prompt" : "Writing"));
  }

  detectedSpeechLanguage_.reset();

  ws_ = makeClient();
  wireSessionClient(*ws_);
  ws_->connect();
  levels_.reset();
  sessionAudioSec_ = 0;

  startStreaming(ws_, true, authorization);
  armMaxSessionTimer();
}

std::shared_ptr<ChunkedTranscribeClient> VoiceHUD::makeClient() {
  return ChunkedTranscribeClient::create(dependencies_.transcriber, dependencies_.mainLoop, dependencies_.clock,
                                         dependencies_.log);
}

void VoiceHUD::wireSessionClient(ChunkedTranscribeClient& client) {
  const auto self = shared_from_this();
  client.onConnected = weakly(self, [](VoiceHUD& hud) {
    hud.vm_.connState.set(ConnState::connected);
    if (hud.vm_.liveText.get() == kConnecting) hud.vm_.liveText.set(std::string(kListening));
  });
  client.onPartial = weakly(self, [](VoiceHUD& hud, const std::string& text) {
    if (!hud.vm_.isRecording.get() && !hud.vm_.isWorking.get()) return;
    hud.vm_.liveText.set(text.empty() ? std::string(kListening) : text);
  });
  client.onLanguageDetected = weakly(self, [](VoiceHUD& hud, const std::string& language) {
    hud.detectedSpeechLanguage_ = language;
    hud.dependencies_.log.log("🌍 detected speech language: " + language);
  });
  client.onError =
      weakly(self, [](VoiceHUD& hud, const ChunkedTranscribeError& error) { hud.handleStreamError(error); });
  client.onClosed = weakly(self, [](VoiceHUD& hud) { hud.handleClientClosed(); });
  client.onFinal = weakly(self, [](VoiceHUD& hud, const std::string& text) { hud.vm_.liveText.set(text); });
}

void VoiceHUD::startStreaming(const std::shared_ptr<ChunkedTranscribeClient>& client, bool isDictation,
                              platform::MicAuthorization authorization) {
  // Runs on the audio thread: it touches only the atomic counter and the client, which takes chunks from any thread.
  auto onChunk = [weakSelf = weak_from_this(), weakClient = std::weak_ptr<ChunkedTranscribeClient>(client),
                  isDictation](AudioStreamer::Chunk chunk) {
    const auto self = weakSelf.lock();
    if (!self) return;
    if (isDictation) self->sessionAudioSec_ += chunk.durationSec;
    if (const auto target = weakClient.lock()) target->send(std::move(chunk));
  };
  const auto self = shared_from_this();
  AudioStreamer::StatusHandler onStatus = [](MicStatus) {};
  if (isDictation) onStatus = weakly(self, [](VoiceHUD& hud, MicStatus status) { hud.handleMicStatus(status); });
  dependencies_.streamer.start(
      authorization, std::move(onChunk), std::move(onStatus),
      weakly(self, [](VoiceHUD& hud, Levels levels) { hud.levels_.update(levels.rms, std::move(levels.bands)); }));
}

void VoiceHUD::handleMicStatus(MicStatus status) {
  switch (status) {
    case MicStatus::started:
      dependencies_.log.log("✅ START ok: mic streaming");
      return;
    case MicStatus::notDetermined:
      dependencies_.log.log("⏳ START pending: mic permission prompt shown (notDetermined)");
      return;
    case MicStatus::denied:
      dependencies_.log.log(
          "❌ START FAILED: mic access DENIED (no sound server "
          "or no input source; see Sound Settings)");
      vm_.isRecording.set(false);
      vm_.connState.set(ConnState::error);
      vm_.micDenied.set(true);
      vm_.hadError.set(true);
      vm_.liveText.set(std::string(kMicrophoneOff));
      cancelClient();
      return;
  }
}

void VoiceHUD::stop() {
  if (!vm_.isRecording.get()) return;
  vm_.isRecording.set(false);
  vm_.isWorking.set(true);
  isFinalizing_ = true;
  if (vm_.liveText.get().empty()) vm_.liveText.set(std::string(kTranscribing));
  cancelMaxSessionTimer();
  dependencies_.streamer.stop();
  if (ws_) ws_->finish();

  // Only the client current at this stop may be forced: a new session's client is left alone.
  dependencies_.mainLoop.after(kStopGraceSeconds,
                               [weakSelf = weak_from_this(), weakClient = std::weak_ptr<ChunkedTranscribeClient>(ws_)] {
                                 const auto self = weakSelf.lock();
                                 const auto client = weakClient.lock();
                                 if (!self || !client || self->ws_ != client) return;
                                 self->dependencies_.log.log(
                                     "⏱️ stop: forcing cancel after 45s grace "
                                     "— transcription didn't resolve");
                                 self->cancelClient();
                                 if (self->didFinalizeTranscript_ || self->vm_.hadError.get()) return;
                                 // A placeholder is not speech: with no partial at all there is nothing to insert.
                                 const std::string live = text::trimmedWhitespaceAndNewlines(self->vm_.liveText.get());
                                 self->handleFinalTranscript(isUsableTranscript(live) ? live : std::string());
                               });
}

void VoiceHUD::handleStreamError(const ChunkedTranscribeError& error) {
  dependencies_.log.log("🎙 stream error: " + error.description() + " finalizing=" + flag(isFinalizing_));
  const std::string live = text::trimmedWhitespaceAndNewlines(vm_.liveText.get());
  if (!isFinalizing_) {
    vm_.connState.set(ConnState::error);
    vm_.isRecording.set(false);
    vm_.isWorking.set(false);
    vm_.liveText.set(error.description());
    vm_.hadError.set(true);
    dependencies_.streamer.stop();
    return;
  }
  dependencies_.streamer.stop();
  if (isUsableTranscript(live)) {
    handleFinalTranscript(live);
    return;
  }
  if (error.kind == ChunkedTranscribeError::Kind::allChunksFailed) {
    vm_.connState.set(ConnState::idle);
    vm_.isRecording.set(false);
    vm_.isWorking.set(false);
    vm_.liveText.set(std::string(kNoSpeech));
    vm_.hadError.set(false);
    cancelClient();
    return;
  }
  dismissHUD();
}

void VoiceHUD::handleClientClosed() {
  const double seconds = sessionAudioSec_.load();
  if (seconds >= kMeteringThresholdSeconds) {
    sessionAudioSec_ = 0;
    dependencies_.ai.recordDictation(seconds);
  }
  if (!vm_.hadError.get() && vm_.alternatives.get().empty()) handleFinalTranscript(vm_.liveText.get());
}

void VoiceHUD::armMaxSessionTimer() {
  maxSessionTimer_.cancel();
  maxSessionTimer_ = dependencies_.mainLoop.after(kMaxSessionSeconds, weakly(shared_from_this(), [](VoiceHUD& hud) {
                                                    hud.autoStopForBillingSafety("max session 7200s reached");
                                                  }));
}

void VoiceHUD::autoStopForBillingSafety(const std::string& reason) {
  dependencies_.log.log("💰 auto-stop: " + reason + " — protecting Fireworks bill");
  cancelMaxSessionTimer();
  if (vm_.isRecording.get()) {
    stop();
  } else {
    cancelClient();
  }
}

void VoiceHUD::cancelClient() {
  if (!ws_) return;
  // Dropped before cancelling, so nothing reached from the cancel sees a half-ended session's client.
  const auto client = std::exchange(ws_, nullptr);
  client->cancel();
}

void VoiceHUD::cancelMaxSessionTimer() {
  maxSessionTimer_.cancel();
  maxSessionTimer_ = {};
}

}  // namespace quillet::dictate
