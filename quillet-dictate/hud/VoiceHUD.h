#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/AudioInput.h"
#include "platform/Clock.h"
#include "platform/HUDWindow.h"
#include "platform/KeyMonitor.h"
#include "platform/MainLoop.h"
#include "platform/MouseLocation.h"
#include "platform/PromptWindow.h"
#include "platform/ScreenRect.h"
#include "platform/Screens.h"
#include "platform/Timer.h"
#include "quillet-dictate/accessibility/InsertionTarget.h"
#include "quillet-dictate/accessibility/PageContext.h"
#include "quillet-dictate/accessibility/TextInsertion.h"
#include "quillet-dictate/audio/AudioStreamer.h"
#include "quillet-dictate/backend/AIService.h"
#include "quillet-dictate/history/VoiceHistoryStore.h"
#include "quillet-dictate/hud/VoiceVM.h"
#include "quillet-dictate/shell/SettingsManager.h"
#include "quillet-dictate/shell/VxLog.h"
#include "quillet-dictate/transcription/ChunkTranscription.h"
#include "quillet-dictate/transcription/ChunkedTranscribeClient.h"
#include "quillet-dictate/waveform/VoiceLevels.h"

namespace quillet::dictate {

// Runs dictation: one session at a time from the shortcut to the text in the field the user was in when it began. It
// records through the shared streamer, feeds the chunks to a fresh transcription client, mirrors the live transcript
// into the HUD model, waits for the final text after a stop, has the backend correct it, inserts it, meters the seconds
// dictated and keeps the alternatives, the history and the HUD's keys. Created once and kept for the process. Main
// thread only, except that chunks may arrive on the audio thread.
class VoiceHUD : public std::enable_shared_from_this<VoiceHUD> {
 public:
  static constexpr double kMaxSessionSeconds = 7200;
  static constexpr double kStopGraceSeconds = 45;
  static constexpr double kMeteringThresholdSeconds = 1.0;
  static constexpr double kPromptShownSeconds = 1.8;
  static constexpr double kPromptFadeSeconds = 0.25;
  static constexpr double kHUDFadeSeconds = 0.2;

  // Live-text placeholders; the ellipsis is one character.
  static constexpr std::string_view kConnecting = "Connecting\u2026";
  static constexpr std::string_view kListening = "Listening\u2026";
  static constexpr std::string_view kTranscribing = "Transcribing\u2026";
  static constexpr std::string_view kNoSpeech = "No speech detected. Try again when you're ready.";
  // Without a sound server or an input source there is nothing to grant; the user picks an input instead.
  static constexpr std::string_view kMicrophoneOff = "Microphone access is off. Enable it in Sound Settings.";

  // The behaviour's virtual key codes of the HUD's keys.
  struct Key {
    static constexpr int returnKey = 36;
    static constexpr int keypadEnter = 76;
    static constexpr int escape = 53;
    static constexpr int left = 123;
    static constexpr int right = 124;
    static constexpr int down = 125;
    static constexpr int up = 126;
  };

  struct Dependencies {
    const SettingsManager& settings;
    AudioStreamer& streamer;
    // Asked for the permission the start line logs.
    platform::AudioInput& microphone;
    // Transcribes one chunk for the session's client.
    ChunkTranscriber transcriber;
    AIService& ai;
    TextInsertion& insertion;
    VoiceHistoryStore& history;
    // The focus tracker's current target and its application's identifier (empty when unknown).
    std::function<InsertionTarget()> currentTarget;
    std::function<std::string()> currentBundleID;
    // The visible text around the focused field, for the action tab.
    std::function<PageContext()> captureContext;
    // The HUD's window, the no-target prompt, the HUD's keys and where they go on screen.
    struct Windows {
      platform::HUDWindow& window;
      platform::PromptWindow& prompt;
      platform::KeyMonitor& keys;
      platform::Screens& screens;
      platform::MouseLocation& mouse;
    } windows;
    platform::MainLoop& mainLoop;
    const platform::Clock& clock;
    const VxLog& log;
  };

  // The flows of the action and writing tabs, which take over a result or a tab from here; empty until set.
  struct Flows {
    // A spoken intent of the action tab came back as `intent`: plan the reply.
    std::function<void(const std::string& intent)> planAction;
    // The writing tab opened: pull the focused field's text into it.
    std::function<void()> pullWritingText;
  };

  static std::shared_ptr<VoiceHUD> create(Dependencies dependencies);
  ~VoiceHUD();

  VoiceHUD(const VoiceHUD&) = delete;
  VoiceHUD& operator=(const VoiceHUD&) = delete;

  // The dictation switch of the shortcut and the capsules: stops a recording, inserts a waiting result, speaks again
  // into an open HUD, or starts a session for the focused field.
  void toggle();
  // Ends the recording and waits for the final transcript; nothing unless recording.
  void stop();
  // Tears the session down and fades the HUD out.
  void dismissHUD();
  // Shows the HUD without starting the microphone.
  void openHUDWithoutRecording(std::optional<HUDTab> activeTab, bool showSettings, bool showHistory);

  void insertSelected();
  void copySelected();
  void insertHistory(const VoiceHistoryItem& item);

  void handleTabChange(HUDTab tab);
  // Whether the HUD consumed the key press.
  bool handleKey(int keyCode);

  // Where the HUD appears: the grammar capsule's frame or the last field's frame; nothing centres it.
  std::function<std::optional<platform::ScreenRect>()> anchorFrameProvider;
  Flows flows;

  [[nodiscard]] VoiceVM& vm() { return vm_; }
  [[nodiscard]] VoiceLevels& levels() { return levels_; }
  // The session's client, for the capsule's cancel; null between sessions.
  [[nodiscard]] const std::shared_ptr<ChunkedTranscribeClient>& ws() const { return ws_; }
  [[nodiscard]] const InsertionTarget& insertionTarget() const { return insertionTarget_; }
  [[nodiscard]] bool isFinalizing() const { return isFinalizing_; }

 private:
  struct SessionRequest {
    bool reanchorHUD = false;
    HUDTab activeTab = HUDTab::speak;
    bool composeMode = false;
    std::optional<PageContext> pageContext;
    bool preserveSelectionState = false;
    bool showPanel = false;
  };

  explicit VoiceHUD(Dependencies dependencies);
  void connectModel();

  // Session.
  void beginRecordingSession(SessionRequest request);
  void startSpeakInPlace();
  void startContextVoice();
  std::shared_ptr<ChunkedTranscribeClient> makeClient();
  void wireSessionClient(ChunkedTranscribeClient& client);
  // Starts the microphone into `client`; a dictation's audio is metered and its permission statuses handled.
  void startStreaming(const std::shared_ptr<ChunkedTranscribeClient>& client, bool isDictation,
                      platform::MicAuthorization authorization);
  void handleMicStatus(MicStatus status);
  void handleStreamError(const ChunkedTranscribeError& error);
  void handleClientClosed();
  void armMaxSessionTimer();
  void autoStopForBillingSafety(const std::string& reason);
  void cancelClient();
  void cancelMaxSessionTimer();

  // Results.
  void handleFinalTranscript(const std::string& text);
  void correctAutomatically(const std::string& transcript);
  void runRewrite(const std::string& modeRaw, const std::string& label);
  void runCustomPrompt(const std::string& instruction);
  void generateFromView();
  void toggleCustomPromptRecording();
  void startCustomPromptRecording();
  void endCustomPromptRecording();
  void adoptRewrite(const std::string& result, const std::string& label);
  void showRewriteFailure(const std::string& logLine, const std::string& description);
  [[nodiscard]] std::string rewriteSource() const;
  // Wraps a backend completion so that it runs only while the session it was asked for is still the HUD's own: a
  // correction or rewrite that returns after Escape, a dismissal or a new session changes nothing.
  template <class Handler>
  auto forThisSession(Handler handler) {
    return [weakSelf = weak_from_this(), session = sessionNumber_, handler = std::move(handler)](auto&&... arguments) {
      const auto self = weakSelf.lock();
      if (!self || self->sessionNumber_ != session) return;
      handler(*self, std::forward<decltype(arguments)>(arguments)...);
    };
  }
  // Types `text` into the session's target or the focused one, or copies it when there is neither.
  void deliver(const std::string& text, const std::string& pasteboardLogLine, const std::string& insertLogLine);

  // Windows and keys.
  void presentPanel(bool reposition);
  void positionPanel();
  void moveByHeaderDrag(double width, double height);
  void showNoTargetPrompt();
  void installKeyMonitor();
  void removeKeyMonitor();
  // Moves the selected alternative by `step` within the list; answers false with fewer than two alternatives.
  bool moveSelection(int step);

  Dependencies dependencies_;
  VoiceLevels levels_;
  VoiceVM vm_;

  InsertionTarget insertionTarget_;
  std::shared_ptr<ChunkedTranscribeClient> ws_;
  std::shared_ptr<ChunkedTranscribeClient> customPromptWS_;
  // Added to by the audio thread's chunks.
  std::atomic<double> sessionAudioSec_{0};
  std::optional<std::string> detectedSpeechLanguage_;
  bool isFinalizing_ = false;
  bool didFinalizeTranscript_ = false;
  bool keyMonitorInstalled_ = false;
  // From a dismissal until its fade ends: the HUD still shows the old result but no longer offers it.
  bool isDismissing_ = false;
  // Counts sessions begun and dismissals, so completions can tell whether theirs is still current.
  std::uint64_t sessionNumber_ = 0;
  platform::Timer maxSessionTimer_;
  platform::Timer noTargetPromptDismiss_;
  double lastHeaderDragWidth_ = 0;
  double lastHeaderDragHeight_ = 0;
};

}  // namespace quillet::dictate
