#include "quillet-dictate/accessibility/ContextSniffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text/UnicodeText.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::dictate {
namespace {

using platform::AccessibilityElement;
using platform::fake::FakeElementSpec;
using AppHint = PageContext::AppHint;

std::string repeated(std::string_view piece, int times) {
  std::string text;
  for (int index = 0; index < times; ++index) text.append(piece);
  return text;
}

// One application with one window; the focus tracker's element and identifier are set by each test.
class ContextSnifferTest : public ::testing::Test {
 protected:
  static constexpr int processId = 3131;

  AccessibilityElement add(const AccessibilityElement& parent, FakeElementSpec spec) {
    return accessibility.addElement(parent, std::move(spec));
  }
  AccessibilityElement addText(const std::string& text) { return add(window, {.role = "AXStaticText", .value = text}); }

  PageContext capture() { return sniffer.capture(); }

  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeAccessibility accessibility{loop};
  platform::fake::FakeWorkspace workspace{loop};
  AccessibilityElement application = accessibility.addApplication(processId);
  AccessibilityElement window = accessibility.addElement(application, {.role = "AXWindow", .title = "Inbox"});
  AccessibilityElement currentElement = window;
  std::string currentBundleID = "org.example.Mailer";
  ContextSniffer sniffer{{accessibility, workspace, [this] { return currentElement; }, [this] { return currentBundleID; }}};
};

TEST_F(ContextSnifferTest, EachRoleContributesTheAttributeThatShowsItsText) {
  const struct {
    const char* what;
    FakeElementSpec spec;
    std::string expected;
  } cases[] = {
      {"static text value", {.role = "AXStaticText", .value = "Quarterly report"}, "Quarterly report"},
      {"text field value", {.role = "AXTextField", .value = "Re: budget"}, "Re: budget"},
      {"text area value", {.role = "AXTextArea", .value = "Dear Ada,\nthanks."}, "Dear Ada,\nthanks."},
      {"single-character static text", {.role = "AXStaticText", .value = "A"}, "A"},
      {"button title, not its value", {.role = "AXButton", .value = "ignored", .title = "Archive"}, "Archive"},
      {"link title", {.role = "AXLink", .title = "Unsubscribe"}, "Unsubscribe"},
      {"web area title", {.role = "AXWebArea", .title = "Release notes"}, "Release notes"},
      {"check box title", {.role = "AXCheckBox", .title = "Remember me"}, "Remember me"},
      {"radio button title", {.role = "AXRadioButton", .title = "Weekly"}, "Weekly"},
      {"other role: value of two characters", {.role = "AXCell", .value = "42"}, "42"},
      {"other role: one-character value gives way to the description",
       {.role = "AXCell", .value = "7", .description = "Unread count"}, "Unread count"},
      {"other role: description of three characters", {.role = "AXImage", .description = "Cat"}, "Cat"},
      {"other role: description of two characters is too short", {.role = "AXImage", .description = "Hi"}, ""},
      {"other role: its title is not read", {.role = "AXGroup", .title = "Sidebar"}, ""},
      {"password field", {.role = "AXTextField", .subrole = "AXSecureTextField", .value = "hunter22"}, ""},
      {"prompt chrome", {.role = "AXTextField", .value = "Type a message\xE2\x80\xA6"}, ""},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    const auto element = add(window, testCase.spec);

    const auto context = capture();

    EXPECT_EQ(context.text, testCase.expected);
    EXPECT_EQ(context.isEmpty, testCase.expected.empty());
    accessibility.removeElement(element);
  }
}

TEST_F(ContextSnifferTest, WalksDepthFirstAndSkipsOnlyTheOwnTextOfRolelessElements) {
  const auto header = add(window, {.role = "AXGroup"});
  add(header, {.role = "AXStaticText", .value = "From: Ada"});
  const auto roleless = add(window, {.value = "not read"});
  add(roleless, {.role = "AXStaticText", .value = "Subject: Plans"});
  addText("Body");

  EXPECT_EQ(capture().text, "From: Ada\nSubject: Plans\nBody");
}

TEST_F(ContextSnifferTest, WhatIsNotShownIsNotRead) {
  const auto menuBar = add(window, {.role = "AXMenuBar"});
  add(menuBar, {.role = "AXMenuBarItem", .description = "File"});
  const auto closedMenu = add(menuBar, {.role = "AXMenu", .hidden = true});
  add(closedMenu, {.role = "AXMenuItem", .description = "Save As"});
  const auto popover = add(window, {.role = "AXGroup", .hidden = true});
  const auto languages = add(popover, {.role = "AXList", .hidden = false});
  add(languages, {.role = "AXStaticText", .value = "Plain Text"});
  add(window, {.role = "AXStaticText", .value = "shown", .hidden = false});

  EXPECT_EQ(capture().text, "File\nshown") << "a hidden element hides all that is inside it";
}

TEST_F(ContextSnifferTest, ThePartOfTheWindowTheUserWorksInComesFirst) {
  const auto titleBar = add(window, {.role = "AXGroup"});
  add(titleBar, {.role = "AXButton", .title = "Close"});
  add(titleBar, {.role = "AXStaticText", .value = "notes.txt"});
  const auto main = add(window, {.role = "AXGroup"});
  add(main, {.role = "AXStaticText", .value = "Sidebar"});
  const auto editor = add(main, {.role = "AXGroup"});
  const auto document = add(editor, {.role = "AXTextArea", .value = "What I am writing"});
  add(window, {.role = "AXStaticText", .value = "Status bar"});

  currentElement = document;
  EXPECT_EQ(capture().text, "What I am writing\nSidebar\nClose\nnotes.txt\nStatus bar")
      << "the focused element's branch leads at every level, the rest keeps its order";

  currentElement = window;
  EXPECT_EQ(capture().text, "Close\nnotes.txt\nSidebar\nWhat I am writing\nStatus bar") << "no focus inside: tree order";
}

TEST_F(ContextSnifferTest, ALongDocumentIsReadOnlyAsFarAsTheContextReaches) {
  const auto document = add(window, {.role = "AXTextArea", .value = repeated("word ", 2000000)});

  const auto context = capture();

  EXPECT_EQ(text::characterCount(context.text), PageContext::maxCharacters);
  EXPECT_EQ(accessibility.readCount(document, "AXValue"), 0) << "the ten megabytes are never read whole";
}

TEST_F(ContextSnifferTest, ImmediateRepeatsAreKeptOnceLaterRepeatsAgain) {
  for (const auto* text : {"Name", "Name", "Ada Lovelace", "Name"}) addText(text);

  EXPECT_EQ(capture().text, "Name\nAda Lovelace\nName");
}

TEST_F(ContextSnifferTest, BlankLinesInsideATextFoldToOne) {
  add(window, {.role = "AXTextArea", .value = "  First paragraph.\n\n\n\nSecond paragraph.  "});

  EXPECT_EQ(capture().text, "First paragraph.\n\nSecond paragraph.");
}

TEST_F(ContextSnifferTest, TextIsCappedAtEightThousandUserPerceivedCharacters) {
  const struct {
    const char* what;
    std::string character;
  } cases[] = {
      {"ASCII", "x"},
      {"two-byte letters", "\xC3\xA4"},
      {"emoji of two UTF-16 units", "\xF0\x9F\x98\x80"},
      {"letters with combining accents", "e\xCC\x81"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    const auto page = add(window, {.role = "AXStaticText", .value = repeated(testCase.character, 10000)});

    const auto context = capture();

    EXPECT_EQ(text::characterCount(context.text), 8000u);
    EXPECT_EQ(context.text, repeated(testCase.character, 8000));
    accessibility.removeElement(page);
  }
}

TEST_F(ContextSnifferTest, WalkStopsOnceEightThousandCharactersAreCollected) {
  addText(repeated("word ", 1598) + "word");  // 7994 characters: not yet full
  const auto reached = addText("reached");
  const auto beyond = addText("beyond");

  const auto context = capture();

  EXPECT_GT(accessibility.readCount(reached, "AXRole"), 0);
  EXPECT_EQ(accessibility.readCount(beyond, "AXRole"), 0) << "nothing is read once the buffer is full";
  EXPECT_EQ(text::characterCount(context.text), 8000u);
  EXPECT_TRUE(context.text.ends_with("word\nreach")) << "the last line is cut at the limit";
}

TEST_F(ContextSnifferTest, WalkVisitsAtMostTwentyFiveHundredElements) {
  std::vector<AccessibilityElement> groups;
  for (int index = 0; index < 2600; ++index) groups.push_back(add(window, {.role = "AXGroup"}));

  capture();

  // The window is the first element visited, then its children in order.
  EXPECT_GT(accessibility.readCount(groups[2498], "AXRole"), 0);
  EXPECT_EQ(accessibility.readCount(groups[2499], "AXRole"), 0);
}

TEST_F(ContextSnifferTest, WindowIsFoundByClimbingAtMostTwentyLevels) {
  const struct {
    int climbs;  // parents between the focused element and its window
    bool found;
  } cases[] = {{0, true}, {1, true}, {20, true}, {21, false}};
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.climbs);
    AccessibilityElement parent = window;
    AccessibilityElement outermost;
    for (int level = 1; level < testCase.climbs; ++level) {
      parent = add(parent, {.role = "AXGroup"});
      if (outermost.isNone()) outermost = parent;
    }
    const auto field = add(parent, {.role = "AXTextField", .value = "Deep field"});
    if (outermost.isNone()) outermost = field;
    currentElement = testCase.climbs == 0 ? window : field;

    const auto context = capture();

    EXPECT_EQ(context.text, testCase.found ? "Deep field" : "");
    EXPECT_EQ(context.isEmpty, !testCase.found);
    accessibility.removeElement(outermost);
  }
}

TEST_F(ContextSnifferTest, WithoutAFocusedElementTheFrontmostApplicationsFocusedWindowIsRead) {
  static constexpr int otherProcess = 4141;
  const auto other = accessibility.addApplication(otherProcess);
  const auto otherWindow = accessibility.addElement(other, {.role = "AXWindow"});
  accessibility.addElement(otherWindow, {.role = "AXStaticText", .value = "Front window text"});
  accessibility.setFocusedWindow(otherProcess, otherWindow);
  workspace.frontmost = platform::RunningApplication{otherProcess, "org.example.Other"};
  addText("Not this one");

  const struct {
    const char* what;
    AccessibilityElement current;
  } cases[] = {
      {"no focused element", AccessibilityElement()},
      {"focused element outside any window", accessibility.addElement(application, {.role = "AXTextField"})},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    currentElement = testCase.current;
    EXPECT_EQ(capture().text, "Front window text");
  }
}

TEST_F(ContextSnifferTest, NoWindowAtAllGivesAnEmptyContextWithTheApplicationStillNamed) {
  addText("Unreachable");
  currentElement = {};
  currentBundleID = "com.tinyspeck.slackmacgap";

  const auto context = capture();

  EXPECT_EQ(context, (PageContext{.text = "", .bundleID = "com.tinyspeck.slackmacgap", .appHint = AppHint::chat,
                                  .isEmpty = true}));
}

TEST(ContextSnifferClassifyTest, BundleIdentifiersMapToTheirKindExactly) {
  static const struct {
    const char* bundleId;
    AppHint hint;
    const char* raw;
  } cases[] = {
      {"com.apple.mail", AppHint::mail, "mail"},
      {"com.microsoft.Outlook", AppHint::mail, "mail"},
      {"com.readdle.smartemail-Mac", AppHint::mail, "mail"},
      {"com.superhuman.electron", AppHint::mail, "mail"},
      {"com.tinyspeck.slackmacgap", AppHint::chat, "chat"},
      {"com.apple.MobileSMS", AppHint::chat, "chat"},
      {"com.hnc.Discord", AppHint::chat, "chat"},
      {"com.microsoft.teams2", AppHint::chat, "chat"},
      {"com.anthropic.claudefordesktop", AppHint::chat, "chat"},
      {"com.openai.chat", AppHint::chat, "chat"},
      {"com.google.Gemini", AppHint::chat, "chat"},
      {"ai.perplexity.mac", AppHint::chat, "chat"},
      {"com.apple.Safari", AppHint::browser, "browser"},
      {"com.google.Chrome", AppHint::browser, "browser"},
      {"com.microsoft.edgemac", AppHint::browser, "browser"},
      {"company.thebrowser.Browser", AppHint::browser, "browser"},
      {"org.mozilla.firefox", AppHint::browser, "browser"},
      {"com.apple.Notes", AppHint::doc, "doc"},
      {"notion.id", AppHint::doc, "doc"},
      {"com.apple.iWork.Pages", AppHint::doc, "doc"},
      {"com.microsoft.Word", AppHint::doc, "doc"},
      {"com.todesktop.230313mzl4w4u92", AppHint::code, "code"},
      {"com.microsoft.VSCode", AppHint::code, "code"},
      {"dev.zed.Zed", AppHint::code, "code"},
      {"com.apple.dt.Xcode", AppHint::code, "code"},
      {"com.codeium.windsurf", AppHint::code, "code"},
      {"com.brave.Browser", AppHint::generic, "generic"},  // a browser to the focus tracker only
      {"com.operasoftware.Opera", AppHint::generic, "generic"},
      {"org.mozilla.Firefox", AppHint::generic, "generic"},  // case-sensitive
      {"com.apple.mail ", AppHint::generic, "generic"},
      {"", AppHint::generic, "generic"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.bundleId);
    EXPECT_EQ(ContextSniffer::classify(testCase.bundleId), testCase.hint);
    EXPECT_EQ(rawValue(ContextSniffer::classify(testCase.bundleId)), testCase.raw);
  }
}

}  // namespace
}  // namespace quillet::dictate
