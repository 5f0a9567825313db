#include "quillet-dictate/accessibility/TextInsertion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/text/UnicodeText.h"
#include "tests/unit/dictate/InsertionDesk.h"

namespace quillet::dictate {
namespace {

using platform::AXTextRange;
using platform::fake::FakeElementSpec;
using platform::fake::FakeWriteBehaviour;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TextInsertionTest : public ::testing::Test {
 protected:
  test::InsertionDesk desk;
};

TEST(TextInsertionPasteOnlyTest, FieldsShowingOnlyAPromptOrBelongingToChatApplicationsArePasted) {
  const struct {
    const char* what;
    FakeElementSpec spec;
    const char* bundleId;
    std::string expectedLog;
  } cases[] = {
      {"empty field", {.role = "AXTextField", .value = "", .valueSettable = true}, "org.example.Editor",
       "✏️ insertAtCursor: paste-only field len=5 simple=true ph=\"\""},
      {"value is the placeholder",
       {.role = "AXTextField", .value = "Subject of the note", .placeholder = "Subject of the note", .valueSettable = true},
       "org.example.Editor", "✏️ insertAtCursor: paste-only field len=5 simple=false ph=\"Subject of the note\""},
      {"value is a chrome phrase", {.role = "AXTextArea", .value = "Type your message", .valueSettable = true},
       "org.example.Editor", "✏️ insertAtCursor: paste-only field len=5 simple=true ph=\"\""},
      {"chrome prefix with an ellipsis",
       {.role = "AXTextField", .value = "Type a message\xE2\x80\xA6", .valueSettable = true}, "org.example.Editor",
       "✏️ insertAtCursor: paste-only field len=5 simple=true ph=\"\""},
      {"placeholder is chrome, value is not",
       {.role = "AXTextField", .value = "draft", .placeholder = "Ask anything...", .valueSettable = true},
       "org.example.Editor", "✏️ insertAtCursor: paste-only field len=5 simple=true ph=\"Ask anything...\""},
      {"Slack text area with text",
       {.role = "AXTextArea", .value = "half a sentence", .placeholder = "Message #general", .valueSettable = true},
       "com.tinyspeck.slackmacgap", "✏️ insertAtCursor: paste-only field len=5 simple=true ph=\"Message #general\""},
      {"Discord text field with text", {.role = "AXTextField", .value = "lol", .valueSettable = true},
       "com.hnc.Discord", "✏️ insertAtCursor: paste-only field len=5 simple=true ph=\"\""},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    test::InsertionDesk desk;
    desk.identity.bundleIds[test::InsertionDesk::applicationProcess] = testCase.bundleId;
    const auto field = desk.addField(testCase.spec);

    desk.insertion->insertAtCursor("hello", field);
    desk.loop.advance(TextInsertion::keystrokeDelaySeconds);

    EXPECT_THAT(desk.accessibility.writtenValues(field), IsEmpty()) << "no direct write was tried";
    EXPECT_THAT(desk.pasted, ElementsAre(std::optional<std::string>("hello ")));
    EXPECT_THAT(desk.captured.messages(), ElementsAre(testCase.expectedLog));
  }
}

TEST(TextInsertionDirectWriteTest, DirectWriteInsertsAtTheCaretReplacingASelectionAndLeavesTheCaretAfterIt) {
  const struct {
    const char* what;
    std::string value;
    std::optional<AXTextRange> selection;
    std::string text;
    std::string expected;
    int expectedFieldLength;      // user-perceived characters
    std::int64_t expectedCaret;  // UTF-16 units
  } cases[] = {
      {"caret at the end", "Hello ", AXTextRange{6, 0}, "world", "Hello world ", 12, 12},
      {"a selection gives way, as typing over it does", "abcdef", AXTextRange{2, 3}, "X", "abX f", 5, 4},
      {"selecting the very text dictated still lands", "say hello there", AXTextRange{4, 5}, "hello",
       "say hello  there", 16, 10},
      {"caret at the start", "abc", AXTextRange{0, 0}, "X", "X abc", 5, 2},
      {"stale range beyond the end", "abc", AXTextRange{50, 0}, "X", "abcX ", 5, 5},
      {"no selected range at all", "abc", std::nullopt, "X", "abcX ", 5, 5},
      {"caret after an emoji counts UTF-16 units", "a\xF0\x9F\x98\x80" "b", AXTextRange{3, 0}, "X",
       "a\xF0\x9F\x98\x80X b", 5, 5},
      {"text already next to the caret still lands once more", "see you", AXTextRange{7, 0}, "see you",
       "see yousee you ", 15, 15},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    test::InsertionDesk desk;
    const auto field = desk.addTextField(testCase.value, testCase.selection);

    desk.insertion->insertAtCursor(testCase.text, field);
    desk.loop.advance(5);

    EXPECT_EQ(desk.accessibility.valueOf(field), testCase.expected);
    EXPECT_THAT(desk.accessibility.writtenValues(field), IsEmpty()) << "the rest of the field is never rewritten";
    EXPECT_EQ(desk.accessibility.typedAttribute<AXTextRange>(field, platform::AXAttribute::selectedTextRange),
              (AXTextRange{testCase.expectedCaret, 0}))
        << "the caret sits right after the inserted text";
    EXPECT_THAT(desk.keys.posted, IsEmpty()) << "nothing is pasted after a write that landed";
    EXPECT_THAT(desk.pasteboard.writes, IsEmpty()) << "the clipboard is left alone";
    EXPECT_THAT(desk.captured.messages(),
                ElementsAre("✏️ insertAtCursor: len=" + std::to_string(text::characterCount(testCase.text)) +
                            " landed=true fieldLen=" + std::to_string(testCase.expectedFieldLength)));
  }
}

TEST(TextInsertionFallbackTest, WritesThatDoNotLandArePastedInstead) {
  const struct {
    const char* what;
    std::string value;
    FakeWriteBehaviour behaviour;
  } cases[] = {
      {"application refuses the write", "Dear team,", FakeWriteBehaviour::refuse},
      {"application answers success but keeps its content", "Dear team,", FakeWriteBehaviour::ignore},
      {"dropped write where the field already held the text", "see you soon, see you", FakeWriteBehaviour::ignore},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    test::InsertionDesk desk;
    const auto field = desk.addTextField(testCase.value, AXTextRange{3, 0}, testCase.behaviour);

    desk.insertion->insertAtCursor("see you", field);
    desk.loop.advance(TextInsertion::keystrokeDelaySeconds);

    EXPECT_EQ(desk.accessibility.writtenSelections(field).size(), 1u) << "the insertion was tried first";
    EXPECT_EQ(desk.accessibility.valueOf(field), testCase.value);
    EXPECT_THAT(desk.pasted, ElementsAre(std::optional<std::string>("see you ")));
    EXPECT_THAT(desk.captured.messages(),
                ElementsAre("✏️ insertAtCursor: len=7 landed=false fieldLen=" +
                                std::to_string(testCase.value.size()),
                            "✏️ insertAtCursor: AX write dropped, paste fallback"));
  }
}

TEST_F(TextInsertionTest, PasteOnlyLogShowsTheFirstFortyCharactersOfThePlaceholder) {
  const std::string placeholder = "Schreib hier deine Nachricht an das Team \xE2\x80\x93 gr\xC3\xBC\xC3\x9F" "e";
  const auto field = desk.addField(
      {.role = "AXTextField", .value = placeholder, .placeholder = placeholder, .valueSettable = true});

  desk.insertion->insertAtCursor("Grüße", field);

  EXPECT_THAT(desk.captured.messages(),
              ElementsAre("✏️ insertAtCursor: paste-only field len=5 simple=false "
                          "ph=\"Schreib hier deine Nachricht an das Team\""));
}

TEST_F(TextInsertionTest, PasteActivatesTheTargetAndTypesItsPasteChord) {
  static constexpr int terminalProcess = 6161;
  desk.identity.bundleIds[terminalProcess] = "org.gnome.Terminal";
  const auto terminal = desk.accessibility.addApplication(terminalProcess);
  const auto terminalField = desk.accessibility.addElement(
      desk.accessibility.addElement(terminal, {.role = "AXWindow"}), {.role = "AXTextArea", .value = ""});
  const auto editorField = desk.addField({.role = "AXTextField", .value = ""});

  desk.insertion->insertAtCursor("ls", terminalField);
  desk.loop.advance(TextInsertion::restoreDelaySeconds);
  desk.insertion->insertAtCursor("note", editorField);
  EXPECT_THAT(desk.activation.activated, ElementsAre(terminalProcess, test::InsertionDesk::applicationProcess))
      << "the target comes to the front before the keystroke";
  EXPECT_EQ(desk.keys.posted.size(), 1u);
  desk.loop.advance(TextInsertion::keystrokeDelaySeconds);

  using platform::KeyChord;
  using platform::ModifierKey;
  EXPECT_THAT(desk.keys.posted, ElementsAre(KeyChord{{ModifierKey::control, ModifierKey::shift}, "v"},
                                            KeyChord{{ModifierKey::control}, "v"}));
}

TEST_F(TextInsertionTest, KeystrokeWaitsForTheTargetToComeToTheFront) {
  const auto field = desk.addField({.role = "AXTextField", .value = ""});

  desk.insertion->insertAtCursor("hello", field);
  desk.loop.advance(TextInsertion::keystrokeDelaySeconds - 0.001);
  EXPECT_THAT(desk.keys.posted, IsEmpty());
  desk.loop.advance(0.001);
  EXPECT_EQ(desk.keys.posted.size(), 1u);
}

TEST_F(TextInsertionTest, TargetResolutionPrefersTheHudsTargetThenTheFocusedField) {
  const auto hudTarget = desk.addTextField("hud ", AXTextRange{4, 0});
  const auto focused = desk.addTextField("focus ", AXTextRange{6, 0});
  desk.currentTarget = InsertionTarget::field(focused);

  EXPECT_EQ(desk.insertion->insertIntoTarget("one", InsertionTarget::field(hudTarget)), TextInsertion::Route::field);
  EXPECT_EQ(desk.insertion->insertIntoTarget("two", {}), TextInsertion::Route::field);

  EXPECT_EQ(desk.accessibility.valueOf(hudTarget), "hud one ");
  EXPECT_EQ(desk.accessibility.valueOf(focused), "focus two ");
}

TEST(TextInsertionWindowTargetTest, WindowOfAnApplicationWithoutATreeGetsAPasteWithItsOwnChord) {
  using platform::KeyChord;
  using platform::ModifierKey;
  const struct {
    const char* bundleId;
    KeyChord chord;
    bool primarySelectionUsed;
  } cases[] = {
      {"xterm", {{ModifierKey::shift}, "Insert"}, true},
      {"org.gnome.Terminal", {{ModifierKey::control, ModifierKey::shift}, "v"}, false},
      {"org.example.JavaApp", {{ModifierKey::control}, "v"}, false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.bundleId);
    test::InsertionDesk desk;
    static constexpr int windowProcess = 777;
    static constexpr std::uint64_t windowId = 0x1c00022;
    desk.identity.bundleIds[windowProcess] = testCase.bundleId;
    desk.userCopied("clipboard before");
    desk.primarySelection.copyFromAnotherApplication(platform::PasteboardContents::withText("selected before"));
    const auto focusedElsewhere = desk.addTextField("not here ", AXTextRange{9, 0});
    desk.currentTarget = InsertionTarget::field(focusedElsewhere);

    const auto route = desk.insertion->insertIntoTarget(
        "git status", InsertionTarget::window({windowId, {windowProcess, testCase.bundleId}}));
    desk.loop.advance(TextInsertion::keystrokeDelaySeconds);

    EXPECT_EQ(route, TextInsertion::Route::field);
    EXPECT_THAT(desk.activation.activatedWindows, ElementsAre(windowId)) << "that very window comes to the front";
    EXPECT_THAT(desk.keys.posted, ElementsAre(testCase.chord));
    EXPECT_THAT(desk.pasted, ElementsAre(std::optional<std::string>("git status ")))
        << "the board the chord pastes holds the text when the keystroke comes";
    EXPECT_EQ(desk.accessibility.valueOf(focusedElsewhere), "not here ") << "the focused field elsewhere is untouched";
    EXPECT_EQ(desk.primarySelection.current.plainText(),
              testCase.primarySelectionUsed ? "git status " : "selected before");

    desk.loop.advance(TextInsertion::restoreDelaySeconds);
    EXPECT_EQ(desk.clipboardText(), "clipboard before");
    EXPECT_EQ(desk.primarySelection.current.plainText(), "selected before");
  }
}

TEST_F(TextInsertionTest, WithoutAnyTargetTheTextOnlyGoesToTheClipboard) {
  desk.userCopied("what the user had");

  EXPECT_EQ(desk.insertion->insertIntoTarget("hello", {}), TextInsertion::Route::pasteboardOnly);
  desk.loop.advance(5);

  EXPECT_EQ(desk.pasteboard.current, platform::PasteboardContents::withText("hello"))
      << "no trailing space, no secret hint: the user means to paste it";
  EXPECT_THAT(desk.keys.posted, IsEmpty());
  EXPECT_THAT(desk.activation.activated, IsEmpty());
}

TEST_F(TextInsertionTest, EmptyTextTouchesNothing) {
  const auto field = desk.addTextField("abc", AXTextRange{1, 0});
  desk.userCopied("kept");

  desk.insertion->insertAtCursor("", field);
  desk.loop.advance(5);

  EXPECT_THAT(desk.accessibility.writtenSelections(field), IsEmpty());
  EXPECT_THAT(desk.pasteboard.writes, IsEmpty());
  EXPECT_THAT(desk.keys.posted, IsEmpty());
}

}  // namespace
}  // namespace quillet::dictate
