#include "quillet-dictate/accessibility/EditableFieldFinder.h"

#include <gtest/gtest.h>

#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/VirtualMainLoop.h"
#include "tests/unit/dictate/ScriptedAccessibility.h"

namespace quillet::dictate {
namespace {

using platform::AccessibilityElement;
using platform::fake::FakeElementSpec;

class EditableFieldFinderTest : public ::testing::Test {
 protected:
  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeAccessibility tree{loop};
  test::ScriptedAccessibility accessibility{tree};
  ElementReading reading{accessibility};
  EditableFieldFinder finder{reading};
  AccessibilityElement application = tree.addApplication(100);
};

TEST_F(EditableFieldFinderTest, DecidesByRoleSubroleAndWhatTheValueOffers) {
  const struct {
    const char* what;
    FakeElementSpec spec;
    bool expected;
  } cases[] = {
      {"text field", {.role = "AXTextField"}, true},
      {"text area", {.role = "AXTextArea"}, true},
      {"combo box", {.role = "AXComboBox"}, true},
      {"password field", {.role = "AXTextField", .subrole = "AXSecureTextField", .valueSettable = true}, false},
      {"content-editable group", {.role = "AXGroup", .subrole = "AXContentEditable"}, true},
      {"search field of any role", {.role = "AXButton", .subrole = "AXSearchField"}, true},
      {"static text with a settable value", {.role = "AXStaticText", .value = "x", .valueSettable = true,
                                             .otherAttributes = {{"AXSelectedTextRange", platform::AXTextRange{0, 0}}}}, false},
      {"unknown role with settable text and a selection",
       {.role = "AXUnknown", .value = "x", .selectedTextRange = platform::AXTextRange{0, 0}, .valueSettable = true}, true},
      {"unknown role without a selection", {.role = "AXUnknown", .value = "x", .valueSettable = true}, false},
      {"unknown role with read-only text",
       {.role = "AXUnknown", .value = "x", .selectedTextRange = platform::AXTextRange{0, 0}}, false},
      {"unknown role with a number as value",
       {.role = "AXUnknown", .selectedTextRange = platform::AXTextRange{0, 0}, .valueSettable = true,
        .otherAttributes = {{"AXValue", 4.0}}}, false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    EXPECT_EQ(finder.isEditable(tree.addElement(application, testCase.spec)), testCase.expected);
  }
}

TEST_F(EditableFieldFinderTest, PrefersTheFocusedChildThenTheFirstEditableChildThenDeeperOnes) {
  const auto group = tree.addElement(application, {.role = "AXGroup"});
  const auto first = tree.addElement(group, {.role = "AXTextField"});
  const auto second = tree.addElement(group, {.role = "AXTextArea"});
  EXPECT_EQ(finder.findEditableDescendant(group, 8), first);
  accessibility.reportingFocused = {second};
  EXPECT_EQ(finder.findEditableDescendant(group, 8), second);

  const auto nested = tree.addElement(application, {.role = "AXGroup"});
  const auto button = tree.addElement(nested, {.role = "AXButton"});
  const auto inner = tree.addElement(nested, {.role = "AXGroup"});
  const auto deep = tree.addElement(inner, {.role = "AXTextField"});
  const auto underButton = tree.addElement(button, {.role = "AXTextField"});
  EXPECT_EQ(finder.findEditableDescendant(nested, 8), underButton) << "children are searched in order, each one fully";
  EXPECT_EQ(finder.findEditableDescendant(inner, 8), deep);
}

TEST_F(EditableFieldFinderTest, SearchesAtMostMaxDepthLevelsDown) {
  const auto top = tree.addElement(application, {.role = "AXGroup"});
  auto parent = top;
  for (int level = 0; level < 7; ++level) parent = tree.addElement(parent, {.role = "AXGroup"});
  const auto field = tree.addElement(parent, {.role = "AXTextField"});  // eight levels below `top`
  EXPECT_EQ(finder.findEditableDescendant(top, 8), field);
  EXPECT_TRUE(finder.findEditableDescendant(top, 7).isNone());
  EXPECT_TRUE(finder.findEditableDescendant(top, 0).isNone());
  EXPECT_TRUE(finder.findEditableDescendant(field, 8).isNone()) << "no children";
}

}  // namespace
}  // namespace quillet::dictate
