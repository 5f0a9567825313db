#include "quillet-dictate/accessibility/ElementReading.h"
#include "quillet-dictate/accessibility/ApplicationOfElement.h"
#include "quillet-dictate/accessibility/PlaceholderChrome.h"

#include <gtest/gtest.h>

#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeAppIdentity.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::dictate {
namespace {

TEST(ElementReadingTest, MissingOrNonTextAttributesReadAsTheirStandIns) {
  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeAccessibility accessibility(loop);
  const auto application = accessibility.addApplication(42);
  const auto field = accessibility.addElement(
      application, {.role = "AXTextField", .subrole = "AXSearchField", .value = "typed", .placeholder = "Search"});
  const auto bare = accessibility.addElement(
      application, {.role = "AXSlider", .otherAttributes = {{"AXValue", platform::AXAttributeValue(0.5)}}});
  ElementReading reading(accessibility);

  EXPECT_EQ(reading.roleOf(field), "AXTextField");
  EXPECT_EQ(reading.subroleOf(field), "AXSearchField");
  EXPECT_EQ(reading.placeholderOf(field), "Search");
  EXPECT_EQ(reading.textOf(field), "typed");

  // A number is not text: the slider's value reads as empty, and what it lacks reads as the stand-ins.
  EXPECT_EQ(reading.textOf(bare), "");
  EXPECT_EQ(reading.subroleOf(bare), "-");
  EXPECT_EQ(reading.placeholderOf(bare), "");
  EXPECT_EQ(reading.stringAttribute("AXTitle", bare), "");

  accessibility.removeElement(field);
  EXPECT_EQ(reading.roleOf(field), "?");
}

TEST(PlaceholderChromeTest, PromptsAreChromeAndWhatTheUserWroteIsNot) {
  static const struct {
    const char* text;
    bool chrome;
  } cases[] = {
      {"", true},
      {"   \t", true},
      {"Send a message", true},
      {"Send a message…", true},
      {"  What's on your mind?! ", true},
      {"SEARCH.", true},
      {"Message ChatGPT", true},
      {"Message Claude about anything", true},
      {"Reply to Anna", true},
      {"Type a message here", true},
      {"reply to", false},  // the prefix needs its space, and the trailing one is trimmed
      {"Messages", false},
      {"Search the web for cats", false},
      {"Hello there", false},
      {"I said: send a message", false},
      {"ÄSK ANYTHING", false},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(looksLikePlaceholderChrome(testCase.text), testCase.chrome) << '"' << testCase.text << '"';
  }
}

TEST(ApplicationOfElementTest, ChatApplicationsAndPromptOnlyFieldsPreferTheSimpleDecoration) {
  static const struct {
    const char* situation;
    const char* bundleId;
    const char* role;
    const char* value;
    const char* placeholder;
    bool simple;
  } cases[] = {
      {"Slack's message field", "com.tinyspeck.slackmacgap", "AXTextArea", "draft", "", true},
      {"Discord's text field", "com.hnc.Discord", "AXTextField", "draft", "", true},
      {"a chat app's combo box with text", "com.hnc.Discord", "AXComboBox", "draft", "Server", false},
      {"an editor with text", "org.gnome.TextEditor", "AXTextArea", "draft", "notes", false},
      {"an empty editor field", "org.gnome.TextEditor", "AXTextField", "", "Name", true},
      {"a prompt as placeholder", "org.mozilla.firefox", "AXTextArea", "draft", "Ask anything", true},
      {"an application without identity", "", "AXTextField", "draft", "Name", false},
      // A field without a placeholder reads as one whose placeholder is empty, which counts as a prompt.
      {"a field without placeholder", "org.gnome.TextEditor", "AXTextArea", "draft", "", true},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.situation);
    platform::fake::VirtualMainLoop loop;
    platform::fake::FakeAccessibility accessibility(loop);
    platform::fake::FakeAppIdentity identity;
    if (*testCase.bundleId != '\0') identity.bundleIds[7] = testCase.bundleId;
    const auto field = accessibility.addElement(
        accessibility.addApplication(7),
        {.role = testCase.role, .value = testCase.value, .placeholder = testCase.placeholder});
    ElementReading reading(accessibility);
    EXPECT_EQ(bundleIdOfElement(reading, identity, field), testCase.bundleId);
    EXPECT_EQ(prefersSimpleExternalDecoration(reading, identity, field), testCase.simple);
  }
}

}  // namespace
}  // namespace quillet::dictate
