#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quillet-dictate/accessibility/TextInsertion.h"
#include "tests/unit/dictate/InsertionDesk.h"

namespace quillet::dictate {
namespace {

using platform::PasteboardContents;
using ::testing::ElementsAre;

// The restore rules of the paste path, on virtual time. Every paste here goes into an empty field,
// which is always pasted.
class ClipboardRestoreTest : public ::testing::Test {
 protected:
  ClipboardRestoreTest() { emptyField = desk.addField({.role = "AXTextField", .value = ""}); }

  void paste(std::string_view text) { desk.insertion->insertAtCursor(text, emptyField); }

  static PasteboardContents richCopy() {
    PasteboardContents contents = PasteboardContents::withText("before");
    contents.set("text/html", "<b>before</b>");
    return contents;
  }

  test::InsertionDesk desk;
  platform::AccessibilityElement emptyField;
};

TEST_F(ClipboardRestoreTest, UsersClipboardComesBackOneSecondAfterThePasteInEveryFormat) {
  const struct {
    const char* what;
    PasteboardContents original;
  } cases[] = {
      {"plain text", PasteboardContents::withText("before")},
      {"text with a rich flavour", richCopy()},
      {"an image, which holds no text", [] {
         PasteboardContents image;
         image.set("image/png", std::string("\x89PNG\r\n\x1a\n\0\0", 10));
         return image;
       }()},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    test::InsertionDesk fresh;
    const auto field = fresh.addField({.role = "AXTextField", .value = ""});
    fresh.pasteboard.copyFromAnotherApplication(testCase.original);

    fresh.insertion->insertAtCursor("hello", field);
    fresh.loop.advance(TextInsertion::keystrokeDelaySeconds);
    EXPECT_THAT(fresh.pasted, ElementsAre(std::optional<std::string>("hello ")));

    fresh.loop.advance(TextInsertion::restoreDelaySeconds - TextInsertion::keystrokeDelaySeconds - 0.001);
    EXPECT_EQ(fresh.clipboardText(), "hello ") << "still the payload just before the second is over";
    fresh.loop.advance(0.001);
    EXPECT_EQ(fresh.pasteboard.current, testCase.original);
  }
}

TEST_F(ClipboardRestoreTest, PayloadIsMarkedSecretSoClipboardHistoriesSkipIt) {
  desk.userCopied("before");
  paste("my transcript");

  ASSERT_FALSE(desk.pasteboard.writes.empty());
  const auto& offered = desk.pasteboard.writes.front();
  EXPECT_EQ(offered.plainText(), "my transcript ");
  EXPECT_EQ(offered.data("x-kde-passwordManagerHint"), "secret");

  desk.loop.advance(TextInsertion::restoreDelaySeconds);
  EXPECT_EQ(desk.pasteboard.current, PasteboardContents::withText("before")) << "the restored copy carries no hint";
}

TEST_F(ClipboardRestoreTest, AnEmptyClipboardIsNotRestoredAndKeepsThePayload) {
  paste("hello");
  desk.loop.advance(10);

  EXPECT_EQ(desk.clipboardText(), "hello ");
  EXPECT_EQ(desk.pasteboard.writes.size(), 1u);
}

TEST_F(ClipboardRestoreTest, WhatTheUserCopiesDuringTheSecondIsKept) {
  desk.userCopied("before");
  paste("hello");
  desk.loop.advance(0.5);
  desk.userCopied("copied meanwhile");

  desk.loop.advance(5);

  EXPECT_EQ(desk.clipboardText(), "copied meanwhile");
}

TEST_F(ClipboardRestoreTest, QuickSecondPasteTypesItsOwnTextAndTheOriginalComesBackAfterIt) {
  desk.userCopied("before");
  paste("one");
  desk.loop.advance(0.95);
  paste("two");

  desk.loop.advance(TextInsertion::keystrokeDelaySeconds);
  EXPECT_THAT(desk.pasted, ElementsAre(std::optional<std::string>("one "), std::optional<std::string>("two ")))
      << "the first paste's restore must not land between the second paste and its keystroke";

  desk.loop.advance(TextInsertion::restoreDelaySeconds - TextInsertion::keystrokeDelaySeconds - 0.001);
  EXPECT_EQ(desk.clipboardText(), "two ");
  desk.loop.advance(0.001);
  EXPECT_EQ(desk.clipboardText(), "before") << "the user's clipboard, not the first payload";
}

TEST_F(ClipboardRestoreTest, ACopyBetweenTwoQuickPastesIsWhatComesBack) {
  desk.userCopied("before");
  paste("one");
  desk.loop.advance(0.3);
  desk.userCopied("newer copy");
  desk.loop.advance(0.2);
  paste("two");

  desk.loop.advance(5);

  EXPECT_EQ(desk.clipboardText(), "newer copy");
}

TEST_F(ClipboardRestoreTest, PastesASecondApartEachRestoreTheClipboardTheyFound) {
  desk.userCopied("before");
  paste("one");
  desk.loop.advance(TextInsertion::restoreDelaySeconds);
  ASSERT_EQ(desk.clipboardText(), "before");
  desk.userCopied("later");
  paste("two");

  desk.loop.advance(TextInsertion::restoreDelaySeconds);

  EXPECT_EQ(desk.clipboardText(), "later");
}

TEST_F(ClipboardRestoreTest, NothingRunsOnceTheInsertionIsGone) {
  desk.userCopied("before");
  paste("hello");
  desk.insertion.reset();

  desk.loop.advance(5);

  EXPECT_TRUE(desk.keys.posted.empty());
  EXPECT_EQ(desk.clipboardText(), "hello ");
}

}  // namespace
}  // namespace quillet::dictate
