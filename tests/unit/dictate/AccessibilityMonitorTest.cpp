#include "quillet-dictate/accessibility/AccessibilityMonitor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeAppIdentity.h"
#include "platform/fake/FakeGlobalClickMonitor.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/FakeTextLayout.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/VirtualMainLoop.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/TemporaryDirectory.h"
#include "tests/unit/dictate/ScriptedAccessibility.h"

namespace quillet::dictate {
namespace {

using platform::AccessibilityElement;
using platform::AXRect;
using platform::RunningApplication;
using platform::ScreenRect;
using platform::fake::FakeElementSpec;

constexpr int kOwnPid = 1;
constexpr int kNotesPid = 100;
constexpr int kBrowserPid = 200;
constexpr int kMailPid = 300;

const RunningApplication kNotes{kNotesPid, "com.example.notes"};
const RunningApplication kBrowser{kBrowserPid, "com.google.Chrome"};
const RunningApplication kMail{kMailPid, "com.example.mail"};
const RunningApplication kAgent{kOwnPid, "com.quillet.dictate"};

FakeElementSpec textField(AXRect frame, std::optional<std::string> placeholder = std::nullopt) {
  return FakeElementSpec{.role = "AXTextField", .value = "Draft", .placeholder = std::move(placeholder), .frame = frame,
                         .valueSettable = true};
}

// A desktop of fakes: a notes application with a window holding a field, a password field and a label;
// a browser with a page; a mail application; the agent's own panel. One 1440x900 screen.
class AccessibilityMonitorTest : public ::testing::Test {
 protected:
  AccessibilityMonitorTest() {
    identity.ownProcess = kOwnPid;
    for (const auto& application : {kNotes, kBrowser, kMail, kAgent}) identity.bundleIds[application.processId] = *application.bundleId;
    screens.attached = {{.frame = {0, 0, 1440, 900}, .visibleFrame = {0, 0, 1440, 875}}};

    const auto notes = tree.addApplication(kNotesPid);
    const auto window = tree.addElement(notes, {.role = "AXWindow", .frame = AXRect{{0, 0}, {800, 600}}});
    subject = tree.addElement(window, textField({{100, 100}, {300, 30}}, "Write a subject"));
    password = tree.addElement(window, {.role = "AXTextField", .subrole = "AXSecureTextField", .value = "",
                                        .frame = AXRect{{100, 140}, {300, 30}}, .valueSettable = true});
    label = tree.addElement(window, {.role = "AXStaticText", .value = "Subject"});
    body = tree.addElement(window, {.role = "AXTextArea", .value = "Dear team", .frame = AXRect{{100, 200}, {500, 200}},
                                    .valueSettable = true});

    const auto browser = tree.addApplication(kBrowserPid);
    const auto page = tree.addElement(browser, {.role = "AXWebArea", .frame = AXRect{{0, 80}, {1200, 700}}});
    searchBox = tree.addElement(page, {.role = "AXTextField", .subrole = "AXSearchField", .value = "",
                                       .frame = AXRect{{100, 100}, {400, 30}}, .valueSettable = true});
    commentBox = tree.addElement(page, {.role = "AXTextArea", .value = "", .placeholder = "Add a comment",
                                        .frame = AXRect{{100, 300}, {600, 80}}, .valueSettable = true});

    const auto mail = tree.addApplication(kMailPid);
    recipient = tree.addElement(mail, textField({{50, 50}, {400, 30}}));

    const auto agent = tree.addApplication(kOwnPid);
    agentField = tree.addElement(agent, textField({{10, 10}, {400, 30}}));
  }

  ~AccessibilityMonitorTest() override = default;

  void startMonitor() {
    monitor = AccessibilityMonitor::create({accessibility, workspace, identity, loop, loop, screens, clicks, log, geometry});
    monitor->onFieldFocused = [this](const AccessibilityElement& element, const ScreenRect& frame) {
      events.push_back("focused " + nameOf(element));
      frames.push_back(frame);
    };
    monitor->onTextChanged = [this](const std::string& text) { events.push_back("text " + text); };
    monitor->onFieldLost = [this] { events.push_back("lost"); };
    monitor->start();
    loop.runPending();
    // A front application without a focused element reports the field lost at once; the tests look at
    // what follows (the start itself is checked in FieldIsLostWhenTheFrontApplicationOffersNoFocusedElement).
    std::erase(events, "lost");
  }

  std::string nameOf(const AccessibilityElement& element) const {
    const std::pair<const AccessibilityElement*, const char*> names[] = {
        {&subject, "subject"}, {&password, "password"}, {&body, "body"}, {&searchBox, "search"},
        {&commentBox, "comment"}, {&recipient, "recipient"}, {&agentField, "agent"}};
    for (const auto& [known, name] : names) {
      if (*known == element) return name;
    }
    return "other";
  }

  std::size_t logged(std::string_view prefix) const {
    std::size_t count = 0;
    for (const auto& message : captured.messages()) count += message.starts_with(prefix) ? 1 : 0;
    return count;
  }

  // Takes the events seen so far.
  std::vector<std::string> takeEvents() { return std::exchange(events, {}); }

  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeAccessibility tree{loop};
  test::ScriptedAccessibility accessibility{tree};
  platform::fake::FakeWorkspace workspace{loop};
  platform::fake::FakeAppIdentity identity;
  platform::fake::FakeScreens screens;
  platform::fake::FakeGlobalClickMonitor clicks{loop};
  platform::fake::FakeTextLayout layout;
  test::TemporaryDirectory folder;
  test::CapturedLog captured;
  VxLog log{folder.path() / "focus.log", loop, captured.mirror()};
  FieldGeometry geometry{{accessibility, identity, screens, layout, nullptr, log}};
  std::shared_ptr<AccessibilityMonitor> monitor;

  AccessibilityElement subject, password, label, body, searchBox, commentBox, recipient, agentField;
  std::vector<std::string> events;
  std::vector<ScreenRect> frames;
};

TEST_F(AccessibilityMonitorTest, StartAttachesToTheFrontmostApplicationAndReportsItsFocusedField) {
  workspace.frontmost = kNotes;
  tree.focus(subject);
  startMonitor();

  EXPECT_TRUE(captured.contains("🎯 AccessibilityMonitor.start()"));
  EXPECT_TRUE(captured.contains("🎬 initial frontmost: com.example.notes pid=100"));
  EXPECT_TRUE(clicks.started());
  loop.advance(0.119);
  EXPECT_TRUE(events.empty()) << "focus is evaluated 0.12 s after the last change";
  loop.advance(0.002);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused subject"});
  EXPECT_EQ(frames.back(), (ScreenRect{100, 770, 300, 30})) << "frames are in bottom-left screen coordinates";
  EXPECT_EQ(monitor->currentElement(), subject);
  EXPECT_EQ(monitor->currentBundleID(), "com.example.notes");
  EXPECT_TRUE(captured.contains("✅ Attaching badge to element role=AXTextField subrole=-"));
  EXPECT_TRUE(captured.contains("👉 focus app=com.example.notes role=AXTextField subrole=- settable=true stringValue=true"));
}

TEST_F(AccessibilityMonitorTest, WithoutTheManualAccessibilitySwitchFocusIsNotReadAgainLater) {
  workspace.frontmost = kNotes;
  tree.focus(subject);
  startMonitor();
  loop.advance(0.2);
  const int reads = tree.readCount(tree.applicationElement(kNotesPid), "AXFocusedUIElement");

  loop.advance(1.0);
  EXPECT_EQ(tree.readCount(tree.applicationElement(kNotesPid), "AXFocusedUIElement"), reads);
  EXPECT_EQ(accessibility.manualAccessibilityWrites, 1) << "asked once, refused as AT-SPI refuses it";
  EXPECT_EQ(logged("🧩"), 0u);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused subject"});
}

TEST_F(AccessibilityMonitorTest, AnAcceptedManualAccessibilitySwitchRereadsTheFocusHalfASecondLater) {
  accessibility.acceptsManualAccessibility = true;
  workspace.frontmost = kNotes;
  tree.focus(subject);
  startMonitor();
  EXPECT_TRUE(captured.contains("🧩 AX: AXManualAccessibility=true set on pid 100"));
  loop.advance(0.49);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused subject"});
  loop.advance(0.2);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused subject"}) << "the second look reports the field again";
}

TEST_F(AccessibilityMonitorTest, TheLaterRereadIsDroppedWhenAnotherApplicationWasAttachedMeanwhile) {
  accessibility.acceptsManualAccessibility = true;
  workspace.frontmost = kNotes;
  tree.focus(subject);
  tree.focus(recipient);
  startMonitor();
  loop.advance(0.2);
  workspace.activate(kMail);
  loop.advance(0.2);
  EXPECT_EQ(takeEvents(), (std::vector<std::string>{"focused subject", "focused recipient"}));
  const int notesReads = tree.readCount(tree.applicationElement(kNotesPid), "AXFocusedUIElement");
  loop.advance(0.2);
  EXPECT_EQ(tree.readCount(tree.applicationElement(kNotesPid), "AXFocusedUIElement"), notesReads);
  loop.advance(0.5);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused recipient"}) << "only the mail application's own re-read";
}

TEST_F(AccessibilityMonitorTest, APasswordFieldIsNeverReportedAndTheFieldIsLost) {
  workspace.frontmost = kNotes;
  tree.focus(subject);
  startMonitor();
  loop.advance(0.2);
  tree.focus(password);
  loop.advance(0.2);

  EXPECT_EQ(takeEvents(), (std::vector<std::string>{"focused subject", "lost"}));
  EXPECT_TRUE(monitor->currentElement().isNone());
  EXPECT_TRUE(captured.contains("❌ No editable target found. Detaching badge."));
  EXPECT_FALSE(monitor->isEditable(password));
}

TEST_F(AccessibilityMonitorTest, TwoFocusChangesFiftyMillisecondsApartLeadToOneEvaluationOfTheSecond) {
  workspace.frontmost = kNotes;
  startMonitor();
  tree.focus(subject);
  loop.advance(0.05);
  tree.focus(body);
  loop.advance(0.5);

  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused body"});
  EXPECT_EQ(logged("👉 focus"), 1u);
}

TEST_F(AccessibilityMonitorTest, FocusRightAfterAClickIsEvaluatedWithinTwentyMilliseconds) {
  workspace.frontmost = kNotes;
  startMonitor();
  clicks.click();
  loop.runPending();
  loop.advance(0.005);
  tree.focus(body);
  loop.advance(0.019);
  EXPECT_TRUE(events.empty());
  loop.advance(0.002);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused body"});
}

TEST_F(AccessibilityMonitorTest, AClickHalfASecondAgoNoLongerShortensTheDelay) {
  workspace.frontmost = kNotes;
  startMonitor();
  clicks.click();
  loop.advance(0.5);
  takeEvents();
  tree.focus(body);
  loop.advance(0.119);
  EXPECT_TRUE(events.empty());
  loop.advance(0.002);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused body"});
}

TEST_F(AccessibilityMonitorTest, FocusMovingIntoTheAgentsOwnWindowsLosesTheFieldAndKeepsTheObserver) {
  workspace.frontmost = kNotes;
  tree.focus(subject);
  startMonitor();
  loop.advance(0.2);
  workspace.activate(kAgent);
  tree.focus(agentField);
  loop.advance(0.2);

  EXPECT_EQ(takeEvents(), (std::vector<std::string>{"focused subject", "lost"}));
  EXPECT_TRUE(captured.contains("🔁 app activated: com.quillet.dictate pid=1"));
  EXPECT_TRUE(monitor->currentElement().isNone());
  EXPECT_EQ(tree.registrationCount(tree.applicationElement(kNotesPid), "AXFocusedUIElementChanged"), 1);

  tree.focus(body);  // the notes application still reports through the kept observer
  loop.advance(0.2);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused body"});
}

TEST_F(AccessibilityMonitorTest, ActivatingAnotherApplicationMovesTheObserverThere) {
  workspace.frontmost = kNotes;
  tree.focus(subject);
  tree.focus(recipient);
  startMonitor();
  loop.advance(0.2);
  workspace.activate(RunningApplication{kMailPid, std::nullopt});
  loop.advance(0.2);

  EXPECT_TRUE(captured.contains("🔁 app activated: ? pid=300"));
  EXPECT_EQ(takeEvents(), (std::vector<std::string>{"focused subject", "focused recipient"}));
  EXPECT_EQ(tree.registrationCount(tree.applicationElement(kNotesPid), "AXFocusedUIElementChanged"), 0);
  EXPECT_EQ(tree.registrationCount(tree.applicationElement(kMailPid), "AXFocusedUIElementChanged"), 1);
  EXPECT_EQ(monitor->currentBundleID(), "com.example.mail");

  workspace.activate(kMail);  // already attached: nothing is redone
  loop.advance(0.2);
  EXPECT_TRUE(takeEvents().empty());
}

TEST_F(AccessibilityMonitorTest, ClickProbesFollowFocusThatMovedWithoutANotification) {
  workspace.frontmost = kNotes;
  tree.focus(subject);
  startMonitor();
  loop.advance(0.2);
  takeEvents();

  // The field lost focus silently: the probe after the click sees no focused element.
  tree.clearFocus(kNotesPid);
  clicks.click();
  loop.advance(0.031);
  EXPECT_EQ(takeEvents(), (std::vector<std::string>{"lost", "lost"})) << "press and release each probe";
  loop.advance(0.2);
  takeEvents();

  // Another application came to the front without an activation notice: the probe attaches to it.
  workspace.frontmost = kMail;
  tree.focus(recipient);
  clicks.click(platform::MouseButton::right);
  loop.advance(0.3);
  // The probes after 0.03 s and after 0.12 s each lead to one evaluation.
  EXPECT_EQ(takeEvents(), (std::vector<std::string>{"focused recipient", "focused recipient"}));
  EXPECT_EQ(tree.registrationCount(tree.applicationElement(kMailPid), "AXFocusedUIElementChanged"), 1);

  // Clicks into the agent's own panels change nothing.
  workspace.frontmost = kAgent;
  clicks.click();
  loop.advance(0.3);
  EXPECT_TRUE(takeEvents().empty());
  EXPECT_EQ(monitor->currentElement(), recipient);
}

TEST_F(AccessibilityMonitorTest, TextChangesOfTheCurrentFieldAreReportedAndOthersAreNot) {
  workspace.frontmost = kNotes;
  tree.focus(subject);
  startMonitor();
  loop.advance(0.2);
  takeEvents();

  tree.typeValue(subject, "Q");
  tree.typeValue(subject, "Qu");
  tree.typeValue(body, "Dear all");
  loop.advance(0.05);
  tree.typeValue(subject, "Quarterly plan");
  loop.advance(AccessibilityMonitor::kTextChangeInterval - 0.05 - 0.001);
  EXPECT_TRUE(events.empty()) << "keystrokes are gathered for a moment";
  loop.advance(0.002);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"text Quarterly plan"}) << "one read, of the latest text";
  EXPECT_EQ(tree.registrationCount(subject, "AXValueChanged"), 1);

  tree.typeValue(subject, "Quarterly plans");
  loop.advance(AccessibilityMonitor::kTextChangeInterval);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"text Quarterly plans"});
}

TEST_F(AccessibilityMonitorTest, TextChangesReadOnlyTheStartOfALongDocumentAndOnlyForTheFieldStillFocused) {
  workspace.frontmost = kNotes;
  tree.focus(body);
  startMonitor();
  loop.advance(0.2);
  takeEvents();
  const int valueReads = tree.readCount(body, "AXValue");

  tree.typeValue(body, std::string(100000, 'x') + " the end");
  loop.advance(AccessibilityMonitor::kTextChangeInterval);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events.front(), "text " + std::string(AccessibilityMonitor::kTextChangeReadUnits, 'x'));
  EXPECT_EQ(tree.readCount(body, "AXValue"), valueReads) << "the whole document is never read";
  takeEvents();

  tree.typeValue(body, "Dear all,");
  loop.runPending();
  workspace.activate(kAgent);
  loop.advance(0.3);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"lost"}) << "the change of the field left behind is dropped";

  workspace.activate(kNotes);
  loop.advance(0.3);
  takeEvents();
  monitor->onTextChanged = nullptr;
  const int rangeReads = tree.readCount(body, "AXStringForRange");
  tree.typeValue(body, "Quarterly plan");
  loop.advance(0.3);
  EXPECT_EQ(tree.readCount(body, "AXStringForRange"), rangeReads) << "nobody listens, nothing is read";
}

TEST_F(AccessibilityMonitorTest, FieldIsLostWhenTheFrontApplicationOffersNoFocusedElement) {
  workspace.frontmost = kMail;
  monitor = AccessibilityMonitor::create({accessibility, workspace, identity, loop, loop, screens, clicks, log, geometry});
  monitor->onFieldLost = [this] { events.push_back("lost"); };
  monitor->onFieldFocused = [this](const AccessibilityElement& element, const ScreenRect&) {
    events.push_back("focused " + nameOf(element));
  };
  monitor->start();
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"lost"}) << "at the start";

  tree.focus(recipient);
  loop.advance(0.2);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused recipient"});

  // The user switches by keyboard to an application that has a tree but no focused element.
  workspace.activate(kNotes);
  loop.runPending();
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"lost"});
  EXPECT_TRUE(monitor->insertionTarget().isNone()) << "neither the mail field nor a window";
}

TEST_F(AccessibilityMonitorTest, AnApplicationWithoutAnyTreeMakesItsFrontWindowTheTarget) {
  static constexpr int kTerminalPid = 400;
  const RunningApplication terminal{kTerminalPid, "xterm"};
  workspace.frontmost = kNotes;
  tree.focus(subject);
  startMonitor();
  loop.advance(0.2);
  ASSERT_EQ(takeEvents(), std::vector<std::string>{"focused subject"});
  EXPECT_EQ(monitor->insertionTarget(), InsertionTarget::field(subject));

  // Focus moves inside the notes application and, before that settles, the user switches to a
  // terminal, which exposes nothing: the pending evaluation must not bring the notes field back.
  tree.focus(body);
  loop.advance(0.05);
  workspace.frontmostWindowId = 0x1e00005;
  workspace.activate(terminal);
  loop.advance(0.5);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"lost"});
  EXPECT_TRUE(monitor->currentElement().isNone());
  EXPECT_EQ(monitor->insertionTarget(), InsertionTarget::window({0x1e00005, terminal}));
  EXPECT_TRUE(captured.contains("🪟 no accessibility tree: pid=400 window=31457285 takes pasted text"));

  workspace.activate(kNotes);
  loop.advance(0.2);
  EXPECT_EQ(takeEvents(), std::vector<std::string>{"focused body"});
  EXPECT_EQ(monitor->insertionTarget(), InsertionTarget::field(body)) << "the terminal's window is no target any more";

  workspace.activate(kAgent);
  loop.runPending();
  EXPECT_TRUE(monitor->insertionTarget().isNone()) << "the agent's own panels are no target";
}

TEST_F(AccessibilityMonitorTest, AFocusedEditableChildOfAFocusedGroupIsPreferredOverAnEarlierEditableSibling) {
  const auto page = tree.addElement(tree.applicationElement(kBrowserPid), {.role = "AXGroup"});
  const auto composer = tree.addElement(page, {.role = "AXGroup", .frame = AXRect{{100, 400}, {600, 120}}});
  const auto title = tree.addElement(composer, textField({{100, 400}, {600, 30}}));
  const auto message = tree.addElement(composer, {.role = "AXTextArea", .value = "", .frame = AXRect{{100, 440}, {600, 80}}});
  accessibility.reportingFocused = {message};
  workspace.frontmost = kBrowser;
  startMonitor();
  tree.focus(composer);
  loop.advance(0.2);

  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(monitor->currentElement(), message);

  accessibility.reportingFocused.clear();
  tree.focus(page);
  loop.advance(0.2);
  EXPECT_EQ(monitor->currentElement(), title) << "without a focused child, the first editable one, found deeper";
}

TEST_F(AccessibilityMonitorTest, ThePillDecisionIsLoggedAndASuppressedPillStillReportsFocus) {
  const auto narrow = tree.addElement(tree.applicationElement(kNotesPid), textField({{100, 500}, {200, 30}}, "Née 😀 résumé — a placeholder longer than thirty characters"));
  workspace.frontmost = kNotes;
  startMonitor();
  tree.focus(subject);
  loop.advance(0.2);
  EXPECT_TRUE(captured.contains(
      "🔎 PILL SHOW ✅ app=com.example.notes role=AXTextField sub=- frame=300x30@100,770 click=false browser=false "
      "chat=false ph=\"Write a subject\""));
  EXPECT_EQ(logged("🚫"), 0u);

  tree.focus(narrow);
  loop.advance(0.2);
  EXPECT_TRUE(captured.contains(
      "🔎 PILL HIDE ✋ app=com.example.notes role=AXTextField sub=- frame=200x30@100,370 click=false browser=false "
      "chat=false ph=\"Née 😀 résumé — a placeholder l\""));
  EXPECT_TRUE(captured.contains("🚫 Suppressing auto pill for role=AXTextField frame=200x30@100,370 — focus kept for shortcuts"));
  EXPECT_EQ(takeEvents(), (std::vector<std::string>{"focused subject", "focused other"}));
  EXPECT_TRUE(monitor->shouldShowPill(subject, frames.front()));
  EXPECT_FALSE(monitor->shouldShowPill(narrow, frames.back()));
}

TEST_F(AccessibilityMonitorTest, ABrowserFieldGetsTheAutomaticPillOnlyRightAfterAClick) {
  workspace.frontmost = kBrowser;
  startMonitor();
  tree.focus(commentBox);
  loop.advance(0.2);
  ASSERT_EQ(takeEvents(), std::vector<std::string>{"focused comment"});
  EXPECT_TRUE(monitor->isBrowserElement(commentBox));
  EXPECT_FALSE(monitor->shouldShowPill(commentBox, frames.back())) << "focused by keyboard";

  clicks.click();
  loop.runPending();
  EXPECT_TRUE(monitor->shouldShowPill(commentBox, frames.back()));
  loop.advance(0.79);
  EXPECT_TRUE(monitor->shouldShowPill(commentBox, frames.back()));
  loop.advance(0.02);
  EXPECT_FALSE(monitor->shouldShowPill(commentBox, frames.back()));

  tree.focus(searchBox);
  clicks.click();
  loop.advance(0.1);
  EXPECT_EQ(monitor->currentElement(), searchBox) << "a search field is still reported focused";
  EXPECT_FALSE(monitor->shouldShowPill(searchBox, frames.back()));
}

TEST_F(AccessibilityMonitorTest, AFailedObserverLeavesTheApplicationUnwatchedUntilTheNextClick) {
  tree.setObserversAvailable(false);
  workspace.frontmost = kNotes;
  tree.focus(subject);
  startMonitor();
  loop.advance(0.5);
  EXPECT_TRUE(takeEvents().empty());

  tree.setObserversAvailable(true);
  clicks.click();
  loop.advance(0.3);
  EXPECT_EQ(takeEvents(), (std::vector<std::string>{"focused subject", "focused subject"}));
  EXPECT_EQ(tree.registrationCount(tree.applicationElement(kNotesPid), "AXFocusedUIElementChanged"), 1);
}

TEST_F(AccessibilityMonitorTest, NothingIsReportedOnceTheMonitorIsGone) {
  workspace.frontmost = kNotes;
  startMonitor();
  tree.focus(subject);
  clicks.click();
  loop.runPending();
  monitor.reset();
  loop.advance(1.0);
  EXPECT_TRUE(events.empty());
}

TEST_F(AccessibilityMonitorTest, StartingWithTheAgentInFrontAttachesToNothing) {
  workspace.frontmost = kAgent;
  tree.focus(agentField);
  startMonitor();
  loop.advance(0.5);
  EXPECT_TRUE(captured.contains("🎬 initial frontmost: com.quillet.dictate pid=1"));
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(tree.registrationCount(tree.applicationElement(kOwnPid), "AXFocusedUIElementChanged"), 0);
}

}  // namespace
}  // namespace quillet::dictate
