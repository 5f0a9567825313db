#include "quillet-dictate/accessibility/VisibleTextBuffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text/UnicodeText.h"

namespace quillet::dictate {
namespace {

std::string collected(const std::vector<std::string>& texts) {
  VisibleTextBuffer buffer;
  for (const auto& text : texts) buffer.append(text);
  return buffer.text();
}

TEST(VisibleTextBufferTest, AppendKeepsOneTrimmedLinePerTextAndDropsChromeAndImmediateRepeats) {
  const struct {
    const char* what;
    std::vector<std::string> appended;
    std::string expected;
  } cases[] = {
      {"lines in order", {"Inbox", "Meeting at noon"}, "Inbox\nMeeting at noon"},
      {"trimmed of white space and line breaks", {"  Inbox \n", "\tMeeting\r\n"}, "Inbox\nMeeting"},
      {"blank texts dropped", {"Inbox", "   ", "\n", "Today"}, "Inbox\nToday"},
      {"a label and its value in a row keep one copy", {"Name", "Name", "Ada"}, "Name\nAda"},
      {"the same line later is kept", {"Name", "Ada", "Name"}, "Name\nAda\nName"},
      {"a repeat after trimming is still a repeat", {"Name", " Name "}, "Name"},
      {"a repeat of the last line of a multi-line text", {"Dear Ada,\nThanks", "Thanks"}, "Dear Ada,\nThanks"},
      {"prompt chrome dropped", {"Type a message\xE2\x80\xA6", "Hello", "Search", "Ask anything..."}, "Hello"},
      {"chrome compared lower-cased", {"SEND A MESSAGE!", "Hi"}, "Hi"},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    EXPECT_EQ(collected(testCase.appended), testCase.expected);
  }
}

TEST(VisibleTextBufferTest, CharacterCountFollowsTheTextInUserPerceivedCharacters) {
  VisibleTextBuffer buffer;
  for (const std::string text : {"caf\xC3\xA9", "e\xCC\x81t\xC3\xA9", "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD ok",
                                 "line\r\nbreaks", "plain"}) {
    buffer.append(text);
    EXPECT_EQ(buffer.characterCount(), text::characterCount(buffer.text())) << "after " << text;
  }
}

TEST(VisibleTextBufferTest, NormalizingTrimsLinesAndFoldsBlankRuns) {
  const struct {
    const char* what;
    std::string text;
    std::string expected;
  } cases[] = {
      {"three blank lines between paragraphs become one", "First\n\n\n\nSecond", "First\n\nSecond"},
      {"one blank line stays", "First\n\nSecond", "First\n\nSecond"},
      {"leading blank lines disappear", "\n\n  \nFirst", "First"},
      {"spaces and tabs trimmed from each line", "  a \t\n\tb  ", "a\nb"},
      {"lines of spaces count as blank", "a\n   \n\t\n \nb", "a\n\nb"},
      {"carriage returns are line breaks too", "a\r\n\r\n\r\nb\rc", "a\n\nb\nc"},
      {"Unicode line separators", "a\xE2\x80\xA8" "b", "a\nb"},
      {"empty stays empty", "", ""},
      {"only blanks give nothing", "\n \n\t\n", ""},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    EXPECT_EQ(VisibleTextBuffer::normalized(testCase.text), testCase.expected);
  }
}

}  // namespace
}  // namespace quillet::dictate
