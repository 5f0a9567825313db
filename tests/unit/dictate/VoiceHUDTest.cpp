// The dictation session on virtual time: a fake microphone into the real streamer, the real chunked client over a
// scripted transcriber, the real AI client against a loopback backend, the real insertion into a fake field, and fake
// windows and keys.
#include "quillet-dictate/hud/VoiceHUD.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/contract/BackendEndpoints.h"
#include "common/runtime/NotificationCenter.h"
#include "platform/fake/FakeAudioInput.h"
#include "platform/fake/FakeHUDWindows.h"
#include "platform/fake/FakeResampler.h"
#include "platform/fake/FakeUrlOpener.h"
#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/linux/curl/CurlHttpClient.h"
#include "quillet-dictate/hud/HUDPlacement.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/RecordingHttpClient.h"
#include "tests/unit/dictate/InsertionDesk.h"

namespace quillet::dictate {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kCleanupPath = backend::path::kDictateCleanup;
constexpr const char* kPreferencePath = "/rest/v1/user_preferences";
constexpr float kSpeech = 0.1f;
constexpr std::size_t kFramesPer100Ms = 4800;

class VoiceHUDTest : public ::testing::Test, protected test::InsertionDesk {
 protected:
  struct PendingChunk {
    AudioStreamer::Chunk chunk;
    std::function<void(AIOutcome<ChunkTranscription>)> completion;
  };

  VoiceHUDTest() {
    settings.supabaseAccessToken.set("access");
    firstField = addTextField("Note: ", platform::AXTextRange{6, 0});
    secondField = addTextField("", platform::AXTextRange{0, 0});
    accessibility.focus(firstField);
    currentTarget = InsertionTarget::field(firstField);
    answerPreference(true);
    answerCleanup(200, R"({"cleaned":"We shipped the build on Friday."})");
    server.answer("POST", backend::path::kUsageRecord, 200, "{}", "application/json");
  }

  // The first field back to its text before any dictation, the caret at its end.
  void clearFirstField() {
    accessibility.typeValue(firstField, "Note: ");
    accessibility.setSelectedTextRange(firstField, {6, 0});
  }

  void answerPreference(bool enabled) {
    server.answer("GET", kPreferencePath, 200, nlohmann::json::array({{{"dictation_ai_cleanup", enabled}}}).dump(),
                  "application/json");
  }
  void answerCleanup(int status, const std::string& body) {
    server.answer("POST", kCleanupPath, status, body, "application/json");
  }

  // Speech for `seconds` into the microphone, then a pause long enough to cut a chunk when `thenPause`.
  void speak(double seconds, bool thenPause = false) {
    input.deliverConstant(kSpeech, seconds, kFramesPer100Ms);
    if (thenPause) input.deliverConstant(0, 0.8, kFramesPer100Ms);
    loop.runPending();
  }

  void answerChunk(std::size_t index, const std::string& text) {
    ASSERT_LT(index, pendingChunks.size());
    pendingChunks[index].completion(ChunkTranscription{text, std::nullopt});
    loop.runPending();
  }
  void failChunk(std::size_t index) {
    ASSERT_LT(index, pendingChunks.size());
    pendingChunks[index].completion(AIFailure{VessioError::api("server down")});
    loop.runPending();
  }

  // Runs the loop until the HUD has let go of the stopped session, then lets the HUD fade out.
  bool settle() {
    const bool letGo = loop.runUntil([&] { return !hud->isFinalizing(); }, std::chrono::seconds(20));
    loop.advance(VoiceHUD::kHUDFadeSeconds);
    return letGo;
  }

  // Stops the recording and lets the last chunk reach the transcriber.
  void stopRecording() {
    hud->toggle();
    loop.runPending();
  }

  // The shortcut path: toggle in a field, speak one chunk answered with `spoken`, toggle again.
  void dictate(const std::string& spoken, double seconds = 1.5) {
    hud->toggle();
    loop.runPending();
    speak(seconds);
    stopRecording();
    ASSERT_FALSE(pendingChunks.empty());
    answerChunk(pendingChunks.size() - 1, spoken);
  }

  [[nodiscard]] std::vector<platform::HttpRequest> requestsTo(std::string_view path) const {
    std::vector<platform::HttpRequest> matching;
    for (auto& request : http.sent()) {
      if (request.url.find(path) != std::string::npos) matching.push_back(request);
    }
    return matching;
  }

  [[nodiscard]] std::vector<std::string> historyTexts() const {
    std::vector<std::string> texts;
    for (const auto& item : history.items.get()) texts.push_back(item.text + " | " + item.mode.value_or("-"));
    return texts;
  }

  [[nodiscard]] std::string fieldText(const platform::AccessibilityElement& field) const {
    return accessibility.valueOf(field).value_or("<none>");
  }

  quillet::test::LoopbackHttpServer server;
  platform::fake::MemoryDefaultsStore store;
  NotificationCenter notifications;
  SettingsManager settings{store, notifications, SettingsDefaults{server.url(""), "anon-key-test"}};
  platform::curl::CurlHttpClient curl{loop};
  quillet::test::RecordingHttpClient http{curl};
  AuthService auth{http, settings};
  AIService ai{http, settings, auth, log, loop};
  platform::fake::FakeAudioInput input;
  platform::fake::FakeUrlOpener urlOpener;
  std::shared_ptr<AudioStreamer> streamer = AudioStreamer::create(
      input, [](double from, double to) { return std::make_unique<platform::fake::FakeResampler>(from, to); }, loop,
      log, urlOpener);
  VoiceHistoryStore history{store, loop, log};
  platform::fake::FakeHUDWindows windows{loop};
  platform::fake::FakeHUDWindow& window = windows.window;
  platform::fake::FakePromptWindow& prompt = windows.prompt;
  platform::fake::FakeKeyMonitor& keyMonitor = windows.keys;
  platform::fake::FakeMouseLocation& mouse = windows.mouse;
  std::string frontBundle = "org.example.Editor";
  std::vector<PendingChunk> pendingChunks;
  platform::AccessibilityElement firstField;
  platform::AccessibilityElement secondField;

  std::shared_ptr<VoiceHUD> hud = VoiceHUD::create({
      .settings = settings,
      .streamer = *streamer,
      .microphone = input,
      .transcriber =
          [this](const AudioStreamer::Chunk& chunk, std::function<void(AIOutcome<ChunkTranscription>)> completion) {
            pendingChunks.push_back({chunk, std::move(completion)});
          },
      .ai = ai,
      .insertion = *insertion,
      .history = history,
      .currentTarget = [this] { return currentTarget; },
      .currentBundleID = [this] { return frontBundle; },
      .captureContext = [] { return PageContext{}; },
      .windows = {windows.window, windows.prompt, windows.keys, windows.screens, windows.mouse},
      .mainLoop = loop,
      .clock = loop,
      .log = log,
  });
};

TEST_F(VoiceHUDTest, AShortcutDictationInsertsTheCorrectedTextIntoTheFirstFieldEvenAfterFocusMoved) {
  hud->toggle();
  loop.runPending();
  EXPECT_TRUE(hud->vm().isRecording.get());
  EXPECT_FALSE(window.visible) << "the capsule shows a shortcut session, not the HUD";
  EXPECT_EQ(hud->vm().liveText.get(), "Listening\u2026");
  EXPECT_THAT(captured.messages(), Contains("▶️ START dictation: tab=speak compose=false "
                                            "panel=false micAuth=3"));
  EXPECT_THAT(captured.messages(), Contains("✅ START ok: mic streaming"));
  EXPECT_EQ(input.authorizationReads, 1) << "the start line and the streamer share one answer";

  speak(1.5);
  // The user clicks into another field while speaking: the result still goes to the first one.
  accessibility.focus(secondField);
  currentTarget = InsertionTarget::field(secondField);
  stopRecording();
  EXPECT_TRUE(hud->vm().isWorking.get());
  EXPECT_EQ(hud->vm().liveText.get(), "Listening\u2026");
  ASSERT_EQ(pendingChunks.size(), 1u);
  answerChunk(0, "so um we shipped the build on friday");
  ASSERT_TRUE(settle());

  EXPECT_EQ(fieldText(firstField), "Note: We shipped the build on Friday. ");
  EXPECT_EQ(fieldText(secondField), "");
  EXPECT_THAT(historyTexts(), ElementsAre("We shipped the build on Friday. | original"));
  EXPECT_THAT(requestsTo(kCleanupPath), ::testing::SizeIs(1));
  EXPECT_THAT(captured.messages(), Contains("📥 insertSelected: inserting alternative idx=0 len=31"));
  EXPECT_FALSE(keyMonitor.isInstalled());
  EXPECT_TRUE(hud->vm().alternatives.get().empty()) << "the model is reset once the HUD has faded";
}

TEST_F(VoiceHUDTest, TheAutomaticCorrectionFallsBackToTheRawTranscript) {
  struct Case {
    const char* name;
    bool cleanupEnabled;
    int cleanupStatus;
    bool expectCleanupRequest;
  };
  for (const Case& testCase : {Case{"cleanup disabled", false, 200, false}, Case{"cleanup failing", true, 500, true}}) {
    SCOPED_TRACE(testCase.name);
    answerPreference(testCase.cleanupEnabled);
    answerCleanup(testCase.cleanupStatus, R"({"error":"model overloaded"})");
    clearFirstField();
    const auto cleanupsBefore = requestsTo(kCleanupPath).size();
    loop.advance(AIService::kPreferenceCacheSeconds);  // the preference is read afresh

    dictate("so we shipped the build on friday");
    ASSERT_TRUE(settle());

    EXPECT_EQ(fieldText(firstField), "Note: So we shipped the build on friday ");
    EXPECT_EQ(requestsTo(kCleanupPath).size() - cleanupsBefore, testCase.expectCleanupRequest ? 1u : 0u);
    EXPECT_EQ(history.items.get().front().mode, "original");
  }
  EXPECT_THAT(captured.messages(), Contains(HasSubstr("🛡️ auto-correct cleanup failed (")));
}

TEST_F(VoiceHUDTest, SmartModeInAnEditorRunsThePromptTemplateAndRecordsItsLabel) {
  settings.voiceSmartMode.set(true);
  frontBundle = "com.microsoft.VSCode";
  answerCleanup(200, R"({"cleaned":"Refactor the parser so it streams its input."})");

  dictate("refactor the parser so it streams its input");
  ASSERT_TRUE(settle());

  EXPECT_THAT(captured.messages(), Contains("🧠 Smart mode: bundle=com.microsoft.VSCode → AI Prompt"));
  EXPECT_THAT(requestsTo(kPreferencePath), IsEmpty()) << "the template path does not ask for the preference";
  EXPECT_EQ(fieldText(firstField), "Note: Refactor the parser so it streams its input. ");
  EXPECT_THAT(historyTexts(), ElementsAre("Refactor the parser so it streams its input. | ai \u00B7 auto"));
}

TEST_F(VoiceHUDTest, ASessionWithNothingSpokenEndsWithoutInserting) {
  // Stopped before any audio: the client finishes with empty text and the HUD is dismissed.
  hud->toggle();
  loop.runPending();
  hud->toggle();
  EXPECT_THAT(pendingChunks, IsEmpty());
  ASSERT_TRUE(settle());
  EXPECT_EQ(window.fadeCount, 1);
  EXPECT_EQ(fieldText(firstField), "Note: ");
  EXPECT_THAT(history.items.get(), IsEmpty());

  // Silence only: the one silent chunk comes back empty and the model says so, without an error.
  hud->toggle();
  loop.runPending();
  input.deliverConstant(0, 1.0, kFramesPer100Ms);
  stopRecording();
  ASSERT_EQ(pendingChunks.size(), 1u);
  answerChunk(0, "");
  EXPECT_EQ(hud->vm().liveText.get(), "No speech detected. Try again when you're ready.");
  EXPECT_FALSE(hud->vm().hadError.get());
  EXPECT_EQ(hud->vm().connState.get(), ConnState::idle);
  EXPECT_FALSE(hud->vm().isWorking.get());
  EXPECT_EQ(hud->ws(), nullptr);
  EXPECT_EQ(fieldText(firstField), "Note: ");
  EXPECT_THAT(history.items.get(), IsEmpty());
}

TEST_F(VoiceHUDTest, ARealPartialSurvivesFailingChunksAndTheGrace) {
  answerPreference(false);
  // A later chunk failing after the first was heard: what was heard is inserted.
  hud->toggle();
  loop.runPending();
  speak(1.5, true);
  ASSERT_EQ(pendingChunks.size(), 1u);
  answerChunk(0, "first part");
  EXPECT_EQ(hud->vm().liveText.get(), "First part");
  speak(1.5);
  stopRecording();
  ASSERT_EQ(pendingChunks.size(), 2u);
  failChunk(1);
  ASSERT_TRUE(settle());
  EXPECT_EQ(fieldText(firstField), "Note: First part ");

  // A client that never answers after the stop: 45 s later the last partial is inserted.
  clearFirstField();
  hud->toggle();
  loop.runPending();
  speak(1.5, true);
  answerChunk(2, "second part");
  speak(1.5);
  stopRecording();
  loop.advance(VoiceHUD::kStopGraceSeconds - 1);
  EXPECT_EQ(fieldText(firstField), "Note: ");
  loop.advance(1);
  ASSERT_TRUE(settle());
  EXPECT_THAT(captured.messages(), Contains("⏱️ stop: forcing cancel after 45s grace — "
                                            "transcription didn't resolve"));
  EXPECT_EQ(fieldText(firstField), "Note: Second part ");
  EXPECT_THAT(historyTexts(), ElementsAre("Second part | original", "First part | original"));
}

TEST_F(VoiceHUDTest, TheGraceWithoutAnyPartialDismissesWithoutTypingAPlaceholder) {
  hud->toggle();
  loop.runPending();
  speak(1.5);
  hud->toggle();
  loop.advance(VoiceHUD::kStopGraceSeconds);
  ASSERT_TRUE(settle());
  EXPECT_EQ(fieldText(firstField), "Note: ");
  EXPECT_THAT(history.items.get(), IsEmpty());
  EXPECT_EQ(window.fadeCount, 1);
}

TEST_F(VoiceHUDTest, ASessionIsMeteredOnceFromOneSecondOfAudio) {
  struct Case {
    double seconds;
    std::size_t meteringCalls;
  };
  for (const Case& testCase : {Case{0.8, 0}, Case{1.0, 1}, Case{2.4, 1}}) {
    SCOPED_TRACE(testCase.seconds);
    const auto before = requestsTo(backend::path::kUsageRecord).size();
    dictate("we shipped it", testCase.seconds);
    ASSERT_TRUE(settle());
    const auto calls = requestsTo(backend::path::kUsageRecord);
    ASSERT_EQ(calls.size() - before, testCase.meteringCalls);
    if (testCase.meteringCalls == 1) {
      const auto body = nlohmann::json::parse(calls.back().body);
      EXPECT_EQ(body["seconds"], int(std::ceil(testCase.seconds)));
    }
  }
}

TEST_F(VoiceHUDTest, AWaitingResultIsInsertedByTheNextShortcut) {
  settings.voiceAutoInsert.set(false);
  dictate("so we shipped the build on friday");
  ASSERT_TRUE(loop.runUntil([&] { return !hud->vm().alternatives.get().empty() && !hud->vm().isWorking.get(); }));
  loop.runUntil([] { return false; },
                std::chrono::milliseconds(300));  // the correction settles
  EXPECT_EQ(fieldText(firstField), "Note: ");
  const auto waiting = hud->vm().alternatives.get();

  hud->toggle();
  EXPECT_EQ(fieldText(firstField), "Note: " + waiting.front() + " ");
  EXPECT_THAT(pendingChunks, ::testing::SizeIs(1)) << "no new recording started";
  EXPECT_EQ(history.items.get().size(), 1u);
}

class VoiceHUDOpenTest : public VoiceHUDTest {
 protected:
  VoiceHUDOpenTest() { settings.voiceAutoInsert.set(false); }

  // Opens the HUD and speaks into it; the result waits in the HUD.
  void speakIntoOpenHUD(const std::string& spoken) {
    hud->openHUDWithoutRecording(std::nullopt, false, false);
    hud->toggle();
    loop.runPending();
    speak(1.5);
    keyMonitor.press(VoiceHUD::Key::returnKey);
    loop.runPending();
    answerChunk(pendingChunks.size() - 1, spoken);
    ASSERT_TRUE(loop.runUntil([&] { return !hud->vm().alternatives.get().empty() && !hud->vm().isWorking.get(); }));
  }

  void rewrite(CleanupMode mode, const std::string& answer) {
    answerCleanup(200, nlohmann::json{{"cleaned", answer}}.dump());
    hud->vm().onCleanup(mode);
    ASSERT_TRUE(hud->vm().isWorking.get());
    ASSERT_TRUE(loop.runUntil([&] { return !hud->vm().isWorking.get(); }));
  }
};

TEST_F(VoiceHUDOpenTest, ArrowKeysMoveAcrossAlternativesOnlyWhenThereAreSeveral) {
  answerPreference(false);
  speakIntoOpenHUD("we shipped the build on friday");
  EXPECT_THAT(captured.messages(), Contains("🎯 startSpeakInPlace: preserving existing insertion target"));
  EXPECT_EQ(keyMonitor.press(VoiceHUD::Key::right), false) << "one alternative: not consumed";

  rewrite(CleanupMode::concise, "We shipped Friday.");
  rewrite(CleanupMode::professional, "We shipped the build on Friday.");
  ASSERT_THAT(hud->vm().alternatives.get(),
              ElementsAre("We shipped the build on friday", "We shipped Friday.", "We shipped the build on Friday."));
  EXPECT_EQ(hud->vm().selectedIndex.get(), 2);
  EXPECT_EQ(keyMonitor.press(VoiceHUD::Key::right), true);
  EXPECT_EQ(hud->vm().selectedIndex.get(), 2) << "Right from the last stays on the last";
  EXPECT_EQ(keyMonitor.press(VoiceHUD::Key::up), true);
  EXPECT_EQ(hud->vm().selectedIndex.get(), 1);
  EXPECT_EQ(hud->vm().liveText.get(), "We shipped Friday.");

  window.editingText = true;
  EXPECT_EQ(keyMonitor.press(VoiceHUD::Key::left), false) << "typing in the HUD's own fields";
  window.editingText = false;

  EXPECT_EQ(keyMonitor.press(VoiceHUD::Key::keypadEnter), true);
  EXPECT_EQ(fieldText(firstField), "Note: We shipped Friday. ");
  EXPECT_THAT(historyTexts(), ElementsAre("We shipped Friday. | concise"));
}

TEST_F(VoiceHUDOpenTest, ARewriteWithALabelAlreadyListedReplacesThatAlternative) {
  answerPreference(false);
  speakIntoOpenHUD("we shipped the build on friday");
  rewrite(CleanupMode::concise, "We shipped Friday.");
  rewrite(CleanupMode::concise, "Shipped on Friday.");
  EXPECT_THAT(hud->vm().alternatives.get(), ElementsAre("We shipped the build on friday", "Shipped on Friday."));
  EXPECT_THAT(hud->vm().altLabels.get(), ElementsAre("Concise"));
  EXPECT_EQ(hud->vm().selectedIndex.get(), 1);

  // A custom instruction adds its own alternative and closes the prompt field.
  answerCleanup(200, R"({"cleaned":"We shipped the build on Friday!"})");
  hud->vm().showPromptField.set(true);
  hud->vm().onCustomPrompt("  make it excited ");
  ASSERT_TRUE(loop.runUntil([&] { return !hud->vm().isWorking.get(); }));
  EXPECT_THAT(hud->vm().altLabels.get(), ElementsAre("Concise", "Custom"));
  EXPECT_FALSE(hud->vm().showPromptField.get());

  // A failing rewrite says so and keeps the alternatives.
  answerCleanup(500, R"({"error":"model overloaded"})");
  hud->vm().onCleanup(CleanupMode::casual);
  ASSERT_TRUE(loop.runUntil([&] { return !hud->vm().isWorking.get(); }));
  EXPECT_THAT(hud->vm().liveText.get(), ::testing::StartsWith("Cleanup failed: "));
  EXPECT_TRUE(hud->vm().hadError.get());
  EXPECT_EQ(hud->vm().connState.get(), ConnState::error);
  EXPECT_EQ(hud->vm().alternatives.get().size(), 3u);
  EXPECT_THAT(captured.messages(), Contains(HasSubstr("🪄 rewrite(Casual) failed: ")));
}

TEST_F(VoiceHUDOpenTest, EscapeWhileRecordingInsertsNothingAndMetersNothing) {
  hud->openHUDWithoutRecording(std::nullopt, false, false);
  hud->toggle();
  loop.runPending();
  speak(3.0, true);
  ASSERT_EQ(pendingChunks.size(), 1u);
  const auto client = hud->ws();
  EXPECT_EQ(keyMonitor.press(VoiceHUD::Key::escape), true);
  EXPECT_TRUE(client->isCancelled());
  answerChunk(0, "we shipped it");
  ASSERT_TRUE(settle());
  EXPECT_FALSE(window.visible);
  EXPECT_EQ(fieldText(firstField), "Note: ");
  EXPECT_THAT(history.items.get(), IsEmpty());
  EXPECT_THAT(requestsTo(backend::path::kUsageRecord), IsEmpty());
  EXPECT_FALSE(keyMonitor.isInstalled());
}

TEST_F(VoiceHUDOpenTest, ASpokenInstructionFillsThePromptAndIsBlockedWhileDictating) {
  answerPreference(false);
  speakIntoOpenHUD("we shipped the build on friday");
  hud->vm().onCustomPromptMic();
  loop.runPending();
  EXPECT_TRUE(hud->vm().isRecordingCustomPrompt.get());
  speak(1.5);
  hud->vm().onCustomPromptMic();  // done speaking
  loop.runPending();
  ASSERT_EQ(pendingChunks.size(), 2u);
  answerChunk(1, "make it formal");
  EXPECT_EQ(hud->vm().customPrompt.get(), "Make it formal");
  EXPECT_FALSE(hud->vm().isRecordingCustomPrompt.get());
  EXPECT_THAT(hud->vm().alternatives.get(), ElementsAre("We shipped the build on friday"))
      << "the instruction waits for the user to submit it";

  // Speaking the main dictation again, the instruction's microphone stays off.
  hud->vm().onStartSpeak();
  loop.runPending();
  ASSERT_TRUE(hud->vm().isRecording.get());
  hud->vm().onCustomPromptMic();
  EXPECT_FALSE(hud->vm().isRecordingCustomPrompt.get());
  EXPECT_THAT(captured.messages(), Contains("⚠️ blocked nested recording — primary still active"));
}

TEST_F(VoiceHUDOpenTest, TheActionTabHandsASpokenIntentToThePlanner) {
  std::vector<std::string> planned;
  int writingPulls = 0;
  hud->flows.planAction = [&](const std::string& intent) { planned.push_back(intent); };
  hud->flows.pullWritingText = [&] { ++writingPulls; };
  hud->openHUDWithoutRecording(HUDTab::action, false, false);
  hud->toggle();
  loop.runPending();
  EXPECT_THAT(captured.messages(), Contains("▶️ START dictation: tab=action compose=true panel=true micAuth=3"));
  EXPECT_TRUE(hud->vm().pageContext.get().has_value());
  speak(1.5);
  keyMonitor.press(VoiceHUD::Key::returnKey);
  loop.runPending();
  answerChunk(0, "tell them friday works");
  ASSERT_TRUE(loop.runUntil([&] { return !planned.empty(); }));
  EXPECT_THAT(planned, ElementsAre("Tell them friday works"));
  EXPECT_EQ(hud->vm().intentText.get(), "Tell them friday works");
  EXPECT_EQ(fieldText(firstField), "Note: ") << "a reply is inserted by its flow, not here";

  hud->vm().onTabChange(HUDTab::writing);
  EXPECT_EQ(writingPulls, 1);
  EXPECT_FALSE(hud->vm().composeMode.get());
}

TEST_F(VoiceHUDTest, ADeniedMicrophoneSaysWhereToFixIt) {
  input.authorizationStatus = platform::MicAuthorization::denied;
  hud->toggle();
  loop.runPending();
  EXPECT_THAT(captured.messages(), Contains("▶️ START dictation: tab=speak compose=false "
                                            "panel=false micAuth=2"));
  EXPECT_THAT(captured.messages(), Contains(HasSubstr("❌ START FAILED: mic access DENIED")));
  EXPECT_FALSE(hud->vm().isRecording.get());
  EXPECT_TRUE(hud->vm().micDenied.get());
  EXPECT_TRUE(hud->vm().hadError.get());
  EXPECT_EQ(hud->vm().connState.get(), ConnState::error);
  EXPECT_EQ(hud->vm().liveText.get(), "Microphone access is off. Enable it in Sound Settings.");
  EXPECT_EQ(hud->ws(), nullptr);
}

TEST_F(VoiceHUDTest, ALateResultOfACancelledSessionNeverReachesTheModel) {
  hud->toggle();
  loop.runPending();
  speak(1.5);
  stopRecording();
  ASSERT_EQ(pendingChunks.size(), 1u);
  hud->dismissHUD();
  loop.advance(VoiceHUD::kHUDFadeSeconds);

  hud->toggle();  // a new session
  loop.runPending();
  answerChunk(0, "words from the old session");
  loop.advance(VoiceHUD::kStopGraceSeconds);
  EXPECT_EQ(hud->vm().liveText.get(), "Listening\u2026");
  EXPECT_TRUE(hud->vm().isRecording.get());
  EXPECT_EQ(fieldText(firstField), "Note: ");
}

TEST_F(VoiceHUDTest, AFadeEndingAfterANewSessionBeganLeavesThatSessionAlone) {
  answerPreference(false);
  dictate("we shipped it");
  ASSERT_TRUE(loop.runUntil([&] { return window.fadeCount == 1; }));
  hud->toggle();  // at once, while the HUD still fades: a new recording, not the
                  // old text again
  loop.advance(VoiceHUD::kHUDFadeSeconds);
  EXPECT_TRUE(hud->vm().isRecording.get());
  EXPECT_NE(hud->ws(), nullptr);
  EXPECT_EQ(fieldText(firstField), "Note: We shipped it ");
  EXPECT_EQ(history.items.get().size(), 1u);
}

TEST_F(VoiceHUDTest, WithoutAFocusedFieldTheShortcutShowsThePromptAtTheMouseAndRecordsNothing) {
  currentTarget = {};
  mouse.location = platform::ScreenPoint{900, 500};
  hud->toggle();
  EXPECT_FALSE(hud->vm().isRecording.get());
  EXPECT_FALSE(input.running);
  EXPECT_THAT(captured.messages(), Contains("🚫 dictate ignored — no focused text field; showing prompt"));
  ASSERT_TRUE(prompt.visible);
  EXPECT_EQ(prompt.shownAt, (platform::ScreenPoint{740, 524}));
  loop.advance(VoiceHUD::kPromptShownSeconds - 0.01);
  EXPECT_TRUE(prompt.visible);
  loop.advance(0.01);
  EXPECT_FALSE(prompt.visible);
  EXPECT_EQ(prompt.lastFadeSeconds, VoiceHUD::kPromptFadeSeconds);

  // A second press while the prompt shows starts its 1.8 s afresh.
  hud->toggle();
  loop.advance(1.0);
  hud->toggle();
  loop.advance(VoiceHUD::kPromptShownSeconds - 0.01);
  EXPECT_TRUE(prompt.visible) << "the first press's fade-out was cancelled";
  loop.advance(0.01);
  EXPECT_FALSE(prompt.visible);
}

TEST_F(VoiceHUDTest, WithNoTargetAtInsertionTheTextGoesToTheClipboardOnly) {
  settings.voiceAutoInsert.set(false);
  answerPreference(false);
  dictate("we shipped it");
  ASSERT_TRUE(loop.runUntil([&] { return !hud->vm().alternatives.get().empty(); }));
  hud->vm().onCopy();
  EXPECT_EQ(clipboardText(), "We shipped it");
  EXPECT_THAT(historyTexts(), ElementsAre("We shipped it | original"));

  hud->dismissHUD();
  currentTarget = {};
  hud->insertHistory(history.items.get().front());
  EXPECT_EQ(clipboardText(), "We shipped it");
  EXPECT_THAT(captured.messages(), Contains("📥 insertHistory: no insertion target, copying to pasteboard only"));
  EXPECT_EQ(fieldText(firstField), "Note: ");
  EXPECT_EQ(history.items.get().size(), 1u) << "inserting from the history does not add to it";
}

TEST_F(VoiceHUDTest, TheSessionLengthGuardStopsARecordingAfterTwoHours) {
  hud->toggle();
  loop.runPending();
  speak(1.5);
  loop.advance(VoiceHUD::kMaxSessionSeconds - 1);
  EXPECT_TRUE(hud->vm().isRecording.get());
  loop.advance(1);
  EXPECT_THAT(captured.messages(), Contains("💰 auto-stop: max session 7200s reached — protecting "
                                            "Fireworks bill"));
  EXPECT_FALSE(hud->vm().isRecording.get());
  EXPECT_TRUE(hud->isFinalizing());
}

TEST_F(VoiceHUDTest, ThePanelGoesBelowItsAnchorAndFollowsTheHeaderDrag) {
  hud->anchorFrameProvider = [] { return platform::ScreenRect{600, 700, 200, 30}; };
  hud->openHUDWithoutRecording(HUDTab::action, true, false);
  EXPECT_TRUE(window.visible);
  EXPECT_EQ(window.origin(), (platform::ScreenPoint{410, 700 - HUDPlacement::kPanelHeight - 8}));
  EXPECT_EQ(hud->vm().activeTab.get(), HUDTab::action);
  EXPECT_TRUE(hud->vm().showSettings.get());
  EXPECT_EQ(hud->insertionTarget(), InsertionTarget::field(firstField));

  hud->vm().onHeaderDragChanged(10, 5);
  hud->vm().onHeaderDragChanged(30, 15);
  EXPECT_EQ(window.origin(), (platform::ScreenPoint{440, 182 - 15}));
  hud->vm().onHeaderDragEnded();
  hud->vm().onHeaderDragChanged(5, 0);
  EXPECT_EQ(window.origin(), (platform::ScreenPoint{445, 167}));

  hud->vm().onTabChange(HUDTab::action);
  EXPECT_TRUE(hud->vm().composeMode.get());
  EXPECT_TRUE(hud->vm().pageContext.get().has_value());
  hud->vm().onTabChange(HUDTab::speak);
  EXPECT_FALSE(hud->vm().composeMode.get());
}

}  // namespace
}  // namespace quillet::dictate
