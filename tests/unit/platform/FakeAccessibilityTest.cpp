#include "platform/fake/FakeAccessibility.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"

namespace quillet::platform::fake {
namespace {

constexpr int kEditorPid = 4242;
constexpr int kOtherPid = 777;

// One application with a window holding a text field and a label.
struct EditorTree {
  VirtualMainLoop loop;
  FakeAccessibility accessibility{loop};
  AccessibilityElement application = accessibility.addApplication(kEditorPid);
  AccessibilityElement window = accessibility.addElement(application, {.role = "AXWindow", .title = "Draft"});
  AccessibilityElement field = accessibility.addElement(
      window, {.role = "AXTextField",
               .value = "Hi 😀 there",
               .placeholder = "Write a message",
               .frame = AXRect{{100, 200}, {300, 24}},
               .selectedTextRange = AXTextRange{3, 2},
               .fontFamily = "Cantarell",
               .fontSize = 11.0,
               .valueSettable = true});
  AccessibilityElement label = accessibility.addElement(window, {.role = "AXStaticText", .value = "To:"});

  // Every notification delivered, as "element role/notification".
  std::vector<std::string> delivered;
  AccessibilityObserver::Callback recorder() {
    return [this](const AccessibilityElement& element, const std::string& notification) {
      auto role = accessibility.typedAttribute<std::string>(element, AXAttribute::role);
      delivered.push_back(role.value_or("?") + "/" + notification);
    };
  }
};

TEST(FakeAccessibilityTest, AnswersTheAttributesTheTestBuilt) {
  EditorTree tree;
  auto& ax = tree.accessibility;
  const struct {
    std::string_view name;
    AXAttributeValue expected;
  } cases[] = {
      {AXAttribute::role, std::string("AXTextField")},
      {AXAttribute::value, std::string("Hi 😀 there")},
      {AXAttribute::placeholderValue, std::string("Write a message")},
      {AXAttribute::position, AXPoint{100, 200}},
      {AXAttribute::size, AXSize{300, 24}},
      {AXAttribute::selectedTextRange, AXTextRange{3, 2}},
      // The emoji lies beyond the Basic Multilingual Plane: two UTF-16 units.
      {AXAttribute::numberOfCharacters, 11.0},
      {AXAttribute::parent, tree.window},
      {AXAttribute::focused, false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(std::string(testCase.name));
    EXPECT_EQ(ax.attribute(tree.field, testCase.name), testCase.expected);
  }
  EXPECT_EQ(ax.attribute(tree.window, AXAttribute::children), AXAttributeValue(AXElementList{tree.field, tree.label}));
  EXPECT_EQ(ax.processId(tree.label), kEditorPid);
  EXPECT_EQ(ax.applicationElement(kEditorPid), tree.application);
}

TEST(FakeAccessibilityTest, AbsentAndGoneElementsReadAsAbsent) {
  EditorTree tree;
  auto& ax = tree.accessibility;
  for (const auto name : {AXAttribute::subrole, AXAttribute::help, std::string_view("AXTextMarkerForIndex"),
                          std::string_view("AXManualAccessibility")}) {
    EXPECT_FALSE(ax.attribute(tree.field, name)) << name;
  }
  EXPECT_FALSE(ax.attribute(tree.application, AXAttribute::parent));
  EXPECT_TRUE(ax.applicationElement(kOtherPid).isNone());
  EXPECT_FALSE(ax.attribute(AccessibilityElement{}, AXAttribute::role));

  ax.removeElement(tree.window);
  EXPECT_FALSE(ax.attribute(tree.field, AXAttribute::role));
  EXPECT_FALSE(ax.processId(tree.field));
  EXPECT_EQ(ax.attribute(tree.application, AXAttribute::children), AXAttributeValue(AXElementList{}));
  EXPECT_EQ(ax.setAttribute(tree.field, AXAttribute::value, std::string("x")).error().kind, AXErrorKind::invalidElement);
}

TEST(FakeAccessibilityTest, HandlesOfOneElementAreEqualAndOthersAreNot) {
  EditorTree tree;
  const auto focusedAgain = [&] {
    tree.accessibility.focus(tree.field);
    return *tree.accessibility.typedAttribute<AccessibilityElement>(tree.application, AXAttribute::focusedUIElement);
  }();
  EXPECT_EQ(focusedAgain, tree.field);
  EXPECT_FALSE(focusedAgain == tree.label);
  EXPECT_FALSE(tree.field == AccessibilityElement{});
  EXPECT_EQ(AccessibilityElement{}, AccessibilityElement{});

  VirtualMainLoop otherLoop;
  FakeAccessibility otherTree(otherLoop);
  EXPECT_FALSE(otherTree.addApplication(kEditorPid) == tree.application);
}

TEST(FakeAccessibilityTest, WritesLandFailOrAreDroppedAsScripted) {
  const struct {
    const char* name;
    bool settable;
    FakeWriteBehaviour behaviour;
    bool succeeds;
    std::string valueAfter;
    bool notifies;
  } cases[] = {
      {"accepted", true, FakeWriteBehaviour::accept, true, "new text", true},
      {"refused", true, FakeWriteBehaviour::refuse, false, "old text", false},
      {"dropped", true, FakeWriteBehaviour::ignore, true, "old text", false},
      {"read-only", false, FakeWriteBehaviour::accept, false, "old text", false},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    EditorTree tree;
    auto& ax = tree.accessibility;
    const auto field = ax.addElement(tree.window, {.role = "AXTextArea",
                                                   .value = "old text",
                                                   .valueSettable = testCase.settable,
                                                   .writeBehaviour = testCase.behaviour});
    auto observer = ax.createObserver(kEditorPid, tree.recorder());
    ASSERT_TRUE(observer);
    ASSERT_TRUE(observer->add(field, AXNotification::valueChanged).hasValue());

    EXPECT_EQ(ax.isAttributeSettable(field, AXAttribute::value), testCase.settable);
    EXPECT_EQ(ax.setAttribute(field, AXAttribute::value, std::string("new text")).hasValue(), testCase.succeeds);
    tree.loop.runPending();

    EXPECT_EQ(ax.typedAttribute<std::string>(field, AXAttribute::value), testCase.valueAfter);
    EXPECT_EQ(ax.writtenValues(field), std::vector<std::string>{"new text"});
    EXPECT_EQ(tree.delivered, testCase.notifies ? std::vector<std::string>{"AXTextArea/AXValueChanged"}
                                                : std::vector<std::string>{});
  }
}

TEST(FakeAccessibilityTest, WritesOfOtherAttributesOrTypesAreErrors) {
  EditorTree tree;
  auto& ax = tree.accessibility;
  EXPECT_EQ(ax.setAttribute(tree.application, "AXManualAccessibility", true).error().kind,
            AXErrorKind::attributeUnsupported);
  EXPECT_EQ(ax.setAttribute(tree.field, AXAttribute::value, 3.0).error().kind, AXErrorKind::illegalArgument);
  EXPECT_EQ(ax.valueOf(tree.field), "Hi 😀 there");
}

TEST(FakeAccessibilityTest, FocusMovesWithinTheApplicationAndIsAnnouncedOnTheMainLoop) {
  EditorTree tree;
  auto& ax = tree.accessibility;
  auto observer = ax.createObserver(kEditorPid, tree.recorder());
  ASSERT_TRUE(observer->add(tree.application, AXNotification::focusedUIElementChanged).hasValue());

  ax.focus(tree.label);
  ax.focus(tree.field);
  EXPECT_TRUE(tree.delivered.empty()) << "notifications arrive through the main loop, not during the call";
  tree.loop.runPending();

  EXPECT_EQ(tree.delivered,
            (std::vector<std::string>{"AXStaticText/AXFocusedUIElementChanged", "AXTextField/AXFocusedUIElementChanged"}));
  EXPECT_EQ(ax.attribute(tree.application, AXAttribute::focusedUIElement), AXAttributeValue(tree.field));
  EXPECT_EQ(ax.attribute(tree.field, AXAttribute::focused), AXAttributeValue(true));
  EXPECT_EQ(ax.attribute(tree.label, AXAttribute::focused), AXAttributeValue(false));
  EXPECT_EQ(ax.attribute(tree.application, AXAttribute::focusedWindow), AXAttributeValue(tree.window));

  ax.clearFocus(kEditorPid);
  EXPECT_FALSE(ax.attribute(tree.application, AXAttribute::focusedUIElement));
  EXPECT_FALSE(ax.attribute(tree.application, AXAttribute::focusedWindow));
}

TEST(FakeAccessibilityTest, NotificationsReachOnlyMatchingLiveRegistrations) {
  EditorTree tree;
  auto& ax = tree.accessibility;
  ax.addApplication(kOtherPid);
  auto fieldObserver = ax.createObserver(kEditorPid, tree.recorder());
  ASSERT_TRUE(fieldObserver->add(tree.field, AXNotification::valueChanged).hasValue());
  std::vector<std::string> otherApplication;
  auto otherObserver = ax.createObserver(kOtherPid, [&](const AccessibilityElement&, const std::string& notification) {
    otherApplication.push_back(notification);
  });
  ASSERT_TRUE(otherObserver->add(ax.applicationElement(kOtherPid), AXNotification::valueChanged).hasValue());
  EXPECT_EQ(otherObserver->add(tree.field, AXNotification::valueChanged).error().kind, AXErrorKind::invalidElement);

  ax.typeValue(tree.label, "Cc:");  // registered for the field only
  ax.focus(tree.field);             // registered for values only
  ax.typeValue(tree.field, "typed");
  tree.loop.runPending();
  EXPECT_EQ(tree.delivered, std::vector<std::string>{"AXTextField/AXValueChanged"});
  EXPECT_TRUE(otherApplication.empty());

  fieldObserver->remove(tree.field, AXNotification::valueChanged);
  ax.typeValue(tree.field, "after removal");
  tree.loop.runPending();
  EXPECT_EQ(tree.delivered.size(), 1u);
}

TEST(FakeAccessibilityTest, NothingIsDeliveredToAnObserverDestroyedBeforeTheLoopRuns) {
  EditorTree tree;
  auto& ax = tree.accessibility;
  auto observer = ax.createObserver(kEditorPid, tree.recorder());
  ASSERT_TRUE(observer->add(tree.application, AXNotification::valueChanged).hasValue());
  EXPECT_EQ(ax.registrationCount(tree.application, AXNotification::valueChanged), 1);

  ax.typeValue(tree.field, "pending");
  observer.reset();
  tree.loop.runPending();

  EXPECT_TRUE(tree.delivered.empty());
  EXPECT_EQ(ax.registrationCount(tree.application, AXNotification::valueChanged), 0);
}

TEST(FakeAccessibilityTest, ObserversCanBeMadeUnavailable) {
  EditorTree tree;
  tree.accessibility.setObserversAvailable(false);
  EXPECT_FALSE(tree.accessibility.createObserver(kEditorPid, tree.recorder()));
  tree.accessibility.setObserversAvailable(true);
  EXPECT_FALSE(tree.accessibility.createObserver(kOtherPid, tree.recorder())) << "no such application";
  EXPECT_TRUE(tree.accessibility.createObserver(kEditorPid, tree.recorder()));
}

TEST(FakeAccessibilityTest, RangesAnswerOnlyWhatWasScriptedAndCountInUtf16Units) {
  EditorTree tree;
  auto& ax = tree.accessibility;
  const AXRect emojiBounds{{131, 204}, {12, 16}};
  ax.setBoundsForRange(tree.field, AXTextRange{3, 2}, emojiBounds);

  EXPECT_EQ(ax.parameterizedAttribute(tree.field, AXParameterizedAttribute::boundsForRange, AXTextRange{3, 2}),
            AXAttributeValue(emojiBounds));
  EXPECT_FALSE(ax.parameterizedAttribute(tree.field, AXParameterizedAttribute::boundsForRange, AXTextRange{3, 1}));
  EXPECT_FALSE(ax.parameterizedAttribute(tree.field, "AXBoundsForTextMarkerRange", AXTextRange{3, 2}));

  const struct {
    AXTextRange range;
    std::optional<std::string> text;
  } cases[] = {
      {{0, 1}, "H"},
      {{3, 2}, "😀"},
      {{5, 6}, " there"},
      {{4, 1}, std::nullopt},  // inside the emoji's surrogate pair
      {{6, 9}, std::nullopt},  // beyond the end
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.range.location);
    const auto sample = ax.parameterizedAttribute(tree.field, AXParameterizedAttribute::attributedStringForRange,
                                                  testCase.range);
    if (!testCase.text) {
      EXPECT_FALSE(sample);
      continue;
    }
    ASSERT_TRUE(sample);
    EXPECT_EQ(std::get<AXAttributedText>(*sample), (AXAttributedText{*testCase.text, "Cantarell", 11.0}));
  }
}

TEST(FakeAccessibilityTest, CountsReadsPerAttribute) {
  EditorTree tree;
  auto& ax = tree.accessibility;
  (void)ax.attribute(tree.field, AXAttribute::value);
  (void)ax.attribute(tree.field, AXAttribute::value);
  (void)ax.attribute(tree.field, AXAttribute::subrole);
  (void)ax.parameterizedAttribute(tree.field, AXParameterizedAttribute::boundsForRange, AXTextRange{0, 1});
  EXPECT_EQ(ax.readCount(tree.field, AXAttribute::value), 2);
  EXPECT_EQ(ax.readCount(tree.field, AXAttribute::subrole), 1);
  EXPECT_EQ(ax.readCount(tree.field, AXParameterizedAttribute::boundsForRange), 1);
  EXPECT_EQ(ax.readCount(tree.label, AXAttribute::value), 0);
}

TEST(FakeAccessibilityTest, AttributeNamesListWhatTheElementAnswers) {
  EditorTree tree;
  const auto names = tree.accessibility.attributeNames(tree.field);
  for (const auto expected : {AXAttribute::role, AXAttribute::value, AXAttribute::selectedTextRange,
                              AXAttribute::placeholderValue, AXAttribute::position}) {
    EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
  }
  const auto labelNames = tree.accessibility.attributeNames(tree.label);
  EXPECT_EQ(std::find(labelNames.begin(), labelNames.end(), AXAttribute::selectedTextRange), labelNames.end());
}

TEST(FakeAccessibilityTest, TrustIsScriptable) {
  EditorTree tree;
  EXPECT_TRUE(tree.accessibility.isTrusted());
  tree.accessibility.setTrusted(false);
  EXPECT_FALSE(tree.accessibility.isTrusted());
}

}  // namespace
}  // namespace quillet::platform::fake
