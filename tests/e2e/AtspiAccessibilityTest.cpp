#include "platform/linux/atspi/AtspiAccessibility.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/qt/QtMainLoop.h"
#include "tests/support/AccessibilityBus.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/GtkTestApplication.h"
#include "tests/support/RunLoopUntil.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::platform::atspi {
namespace {

using test::AccessibilityBus;
using test::ChildProcess;

// Sets environment variables for as long as it lives; libatspi reads them when it first connects.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const ChildProcess::Environment& values, const std::vector<std::string>& removed) {
    for (const auto& [name, value] : values) change(name, value);
    for (const auto& name : removed) change(name, std::nullopt);
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  void change(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    if (!saved_.contains(name)) saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  std::map<std::string, std::optional<std::string>> saved_;
};

QCoreApplication& qtApplication() {
  static int argc = 1;
  static char name[] = "quillet_e2e_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);
  return application;
}

// The GTK application the tests look into, driven through its command pipe.
class FieldsApplication : public test::GtkTestApplication {
 public:
  FieldsApplication(const AccessibilityBus& bus, const std::filesystem::path& folder)
      : GtkTestApplication(bus, folder, "fields-app.py") {}

  // The entry's text as GTK holds it.
  std::optional<std::string> entryText() {
    const std::size_t start = output().size();
    if (!run("report entry")) return std::nullopt;
    const std::string reported = output().substr(start);
    const auto begin = reported.find("entry text=");
    if (begin == std::string::npos) return std::nullopt;
    const auto valueBegin = begin + std::string("entry text=").size();
    return reported.substr(valueBegin, reported.find('\n', valueBegin) - valueBegin);
  }

};

// One desktop for the whole suite: libatspi connects once per process and keeps that connection.
struct FieldsDesktop {
  test::TemporaryDirectory folder;
  AccessibilityBus bus;
  ScopedEnvironment environment{bus.environment(), AccessibilityBus::removedVariables()};
  FieldsApplication application{bus, folder.path()};
  qt::QtMainLoop loop;
  AtspiAccessibility accessibility{loop};
};

class AtspiAccessibilityTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qtApplication();
    desktop_ = new FieldsDesktop();
  }

  static void TearDownTestSuite() {
    delete desktop_;
    desktop_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(desktop_, nullptr);
    ASSERT_TRUE(runUntil([&] { return ax().isTrusted(); })) << "the accessibility bus never became usable";
    application_ = ax().applicationElement(app().processId());
    ASSERT_FALSE(application_.isNone()) << "the GTK application never registered with the accessibility bus";
    window_ = find(application_, "AXWindow");
    entry_ = find(application_, "AXTextField", std::nullopt);
    password_ = find(application_, "AXTextField", "AXSecureTextField");
    textView_ = find(application_, "AXTextArea");
    label_ = find(application_, "AXStaticText");
    for (const auto* element : {&window_, &entry_, &password_, &textView_, &label_}) ASSERT_FALSE(element->isNone());
  }

  static AtspiAccessibility& ax() { return desktop_->accessibility; }
  static FieldsApplication& app() { return desktop_->application; }

  // Runs the main loop until `condition` holds or a generous time has passed.
  static bool runUntil(const std::function<bool()>& condition, double seconds = 20) {
    return test::runLoopUntil(desktop_->loop, condition, seconds);
  }

  // Runs every block already posted to the main loop.
  static void drainPosted() {
    bool reached = false;
    desktop_->loop.post([&] { reached = true; });
    runUntil([&] { return reached; });
  }

  std::optional<std::string> text(const AccessibilityElement& element, std::string_view name) {
    return ax().typedAttribute<std::string>(element, name);
  }

  // The first element under `root`, breadth first, with the role and (when given) the subrole;
  // `subrole` nullopt asks for an element without one.
  AccessibilityElement find(const AccessibilityElement& root, const std::string& role,
                            std::optional<std::string> subrole = std::string("*")) {
    std::deque<AccessibilityElement> queue{root};
    for (int visited = 0; !queue.empty() && visited < 500; ++visited) {
      auto element = queue.front();
      queue.pop_front();
      const auto elementSubrole = text(element, AXAttribute::subrole);
      if (text(element, AXAttribute::role) == role && (subrole == std::string("*") || elementSubrole == subrole)) {
        return element;
      }
      for (auto& child : ax().typedAttribute<AXElementList>(element, AXAttribute::children).value_or(AXElementList{})) {
        queue.push_back(std::move(child));
      }
    }
    return {};
  }

  std::optional<AXRect> frameOf(const AccessibilityElement& element) {
    const auto position = ax().typedAttribute<AXPoint>(element, AXAttribute::position);
    const auto size = ax().typedAttribute<AXSize>(element, AXAttribute::size);
    if (!position || !size) return std::nullopt;
    return AXRect{*position, *size};
  }

  static bool contains(const AXRect& outer, const AXRect& inner) {
    return inner.origin.x >= outer.origin.x && inner.origin.y >= outer.origin.y &&
           inner.origin.x + inner.size.width <= outer.origin.x + outer.size.width &&
           inner.origin.y + inner.size.height <= outer.origin.y + outer.size.height;
  }

  void setEntryValue(const std::string& value) {
    ASSERT_TRUE(ax().setAttribute(entry_, AXAttribute::value, value).hasValue());
    ASSERT_TRUE(runUntil([&] { return text(entry_, AXAttribute::value) == value; }));
  }

  static inline FieldsDesktop* desktop_ = nullptr;
  AccessibilityElement application_;
  AccessibilityElement window_;
  AccessibilityElement entry_;
  AccessibilityElement password_;
  AccessibilityElement textView_;
  AccessibilityElement label_;
};

TEST_F(AtspiAccessibilityTest, TrustFollowsTheDesktopsAccessibilitySwitch) {
  desktop_->bus.setAccessibilityEnabled(false);
  EXPECT_FALSE(ax().isTrusted());
  desktop_->bus.setAccessibilityEnabled(true);
  EXPECT_TRUE(ax().isTrusted());
}

TEST_F(AtspiAccessibilityTest, FieldsAnswerTheirAXRolesAndSubroles) {
  const struct {
    const char* what;
    AccessibilityElement element;
    std::string role;
    std::optional<std::string> subrole;
  } cases[] = {
      {"entry", entry_, "AXTextField", std::nullopt},
      {"password entry", password_, "AXTextField", "AXSecureTextField"},
      {"text view", textView_, "AXTextArea", std::nullopt},
      {"label", label_, "AXStaticText", std::nullopt},
      {"window", window_, "AXWindow", "AXStandardWindow"},
      {"application", application_, "AXApplication", std::nullopt},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.what);
    EXPECT_EQ(text(testCase.element, AXAttribute::role), testCase.role);
    EXPECT_EQ(text(testCase.element, AXAttribute::subrole), testCase.subrole);
  }
  EXPECT_EQ(text(entry_, AXAttribute::placeholderValue), "Write a subject");
  EXPECT_FALSE(text(textView_, AXAttribute::placeholderValue));
  EXPECT_EQ(text(label_, AXAttribute::value), "Subject of the note");
  EXPECT_EQ(text(window_, AXAttribute::title), "Fields");
  EXPECT_EQ(ax().attribute(window_, AXAttribute::parent), AXAttributeValue(application_));
  EXPECT_FALSE(ax().attribute(application_, AXAttribute::parent)) << "the desktop above applications is not shown";
}

TEST_F(AtspiAccessibilityTest, ElementsTellTheirProcessAndApplication) {
  EXPECT_EQ(ax().processId(entry_), app().processId());
  EXPECT_EQ(ax().processId(application_), app().processId());
  EXPECT_TRUE(ax().applicationElement(::getpid()).isNone()) << "this test process exposes no accessible application";
}

TEST_F(AtspiAccessibilityTest, FocusMovingToTheEntryIsAnnouncedAndAnswered) {
  ASSERT_TRUE(app().run("focus textview"));
  ASSERT_TRUE(runUntil([&] { return ax().attribute(textView_, AXAttribute::focused) == AXAttributeValue(true); }));

  std::vector<AccessibilityElement> announced;
  auto observer = ax().createObserver(app().processId(), [&](const AccessibilityElement& element, const std::string& name) {
    if (name == AXNotification::focusedUIElementChanged) announced.push_back(element);
  });
  ASSERT_TRUE(observer);
  ASSERT_TRUE(observer->add(application_, AXNotification::focusedUIElementChanged).hasValue());
  int announcedToDropped = 0;
  auto dropped = ax().createObserver(app().processId(), [&](const AccessibilityElement&, const std::string&) {
    ++announcedToDropped;
  });
  ASSERT_TRUE(dropped->add(application_, AXNotification::focusedUIElementChanged).hasValue());
  dropped.reset();

  ASSERT_TRUE(app().run("focus entry"));
  ASSERT_TRUE(runUntil([&] { return std::find(announced.begin(), announced.end(), entry_) != announced.end(); }));
  drainPosted();
  EXPECT_EQ(announcedToDropped, 0);

  EXPECT_EQ(ax().attribute(application_, AXAttribute::focusedUIElement), AXAttributeValue(entry_));
  EXPECT_EQ(ax().attribute(entry_, AXAttribute::focused), AXAttributeValue(true));
  EXPECT_EQ(ax().attribute(textView_, AXAttribute::focused), AXAttributeValue(false));
  EXPECT_EQ(ax().attribute(application_, AXAttribute::focusedWindow), AXAttributeValue(window_));
}

TEST_F(AtspiAccessibilityTest, ValueWritesLandInTheEntryAndAreAnnounced) {
  ASSERT_TRUE(ax().isAttributeSettable(entry_, AXAttribute::value));
  EXPECT_FALSE(ax().isAttributeSettable(label_, AXAttribute::value));

  bool announced = false;
  auto observer = ax().createObserver(app().processId(), [&](const AccessibilityElement& element, const std::string& name) {
    announced = announced || (element == entry_ && name == AXNotification::valueChanged);
  });
  ASSERT_TRUE(observer->add(entry_, AXNotification::valueChanged).hasValue());

  const std::string written = "Grüße aus 😀 Köln";
  ASSERT_TRUE(ax().setAttribute(entry_, AXAttribute::value, written).hasValue());
  EXPECT_EQ(text(entry_, AXAttribute::value), written);
  EXPECT_EQ(app().entryText(), written);
  EXPECT_TRUE(runUntil([&] { return announced; }));

  const auto refused = ax().setAttribute(label_, AXAttribute::value, std::string("nope"));
  ASSERT_FALSE(refused.hasValue());
  EXPECT_EQ(refused.error().kind, AXErrorKind::notSettable);
  EXPECT_EQ(text(label_, AXAttribute::value), "Subject of the note");
  EXPECT_EQ(ax().setAttribute(entry_, AXAttribute::value, 4.0).error().kind, AXErrorKind::illegalArgument);
}

TEST_F(AtspiAccessibilityTest, SelectionAndCaretCountUtf16Units) {
  setEntryValue("a😀bc");
  ASSERT_TRUE(app().run("focus entry"));
  EXPECT_EQ(ax().attribute(entry_, AXAttribute::numberOfCharacters), AXAttributeValue(5.0));

  const struct {
    const char* command;  // GTK counts characters
    AXTextRange expected;  // AX counts UTF-16 units: the emoji takes two
  } cases[] = {
      {"select entry 2 4", {3, 2}},
      {"select entry 1 2", {1, 2}},
      {"select entry 0 1", {0, 1}},
      {"select entry 4 4", {5, 0}},
      {"select entry 2 2", {3, 0}},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.command);
    ASSERT_TRUE(app().run(testCase.command));
    EXPECT_TRUE(runUntil([&] {
      return ax().attribute(entry_, AXAttribute::selectedTextRange) == AXAttributeValue(testCase.expected);
    })) << "last answer differs";
  }
}

// An observer can outlive the accessibility object that made it (their owners end in either order); once that
// object is gone, registering answers a failure instead of reaching into it.
TEST_F(AtspiAccessibilityTest, AnObserverThatOutlivesItsAccessibilityObjectFailsInsteadOfReachingIntoIt) {
  auto accessibility = std::make_unique<AtspiAccessibility>(desktop_->loop);
  ASSERT_TRUE(runUntil([&] { return accessibility->isTrusted(); }));
  const auto application = accessibility->applicationElement(app().processId());
  auto observer = accessibility->createObserver(app().processId(), [](const AccessibilityElement&, const std::string&) {});
  ASSERT_TRUE(observer);
  EXPECT_TRUE(observer->add(application, AXNotification::focusedUIElementChanged).hasValue());
  accessibility.reset();
  EXPECT_FALSE(observer->add(application, AXNotification::valueChanged).hasValue());
  observer->remove(application, AXNotification::focusedUIElementChanged);
}

TEST_F(AtspiAccessibilityTest, BoundsForRangeLieOnTheEntryInScreenCoordinates) {
  setEntryValue("a😀bc hello");
  const auto entryFrame = frameOf(entry_);
  const auto windowFrame = frameOf(window_);
  ASSERT_TRUE(entryFrame && windowFrame);
  EXPECT_TRUE(contains(AXRect{{0, 0}, {640, 480}}, *windowFrame)) << "the private screen is 640x480";
  EXPECT_TRUE(contains(*windowFrame, *entryFrame));
  EXPECT_GE(windowFrame->origin.x, 40) << "the window was placed at 40,60";

  const auto boundsOf = [&](AXTextRange range) {
    return ax().parameterizedAttribute(entry_, AXParameterizedAttribute::boundsForRange, range);
  };
  // How long one answer takes is measured by bench/BoundsForRangeBench.cpp.
  const auto first = boundsOf({0, 1});
  const auto emoji = boundsOf({1, 2});
  const auto word = boundsOf({6, 5});
  ASSERT_TRUE(first && emoji && word);
  AXRect grownEntry = *entryFrame;
  grownEntry.origin = {grownEntry.origin.x - 2, grownEntry.origin.y - 2};
  grownEntry.size = {grownEntry.size.width + 4, grownEntry.size.height + 4};
  for (const auto* bounds : {&*first, &*emoji, &*word}) {
    const auto& rect = std::get<AXRect>(*bounds);
    EXPECT_GT(rect.size.width, 0.5);
    EXPECT_GT(rect.size.height, 0.5);
    EXPECT_TRUE(contains(grownEntry, rect)) << rect.origin.x << "," << rect.origin.y << " " << rect.size.width << "x"
                                            << rect.size.height;
  }
  EXPECT_GT(std::get<AXRect>(*emoji).origin.x, std::get<AXRect>(*first).origin.x);
  EXPECT_GT(std::get<AXRect>(*word).origin.x, std::get<AXRect>(*emoji).origin.x);

  EXPECT_FALSE(boundsOf({10, 5})) << "beyond the end of the text";
  EXPECT_FALSE(ax().parameterizedAttribute(entry_, "AXBoundsForTextMarkerRange", AXTextRange{0, 1}));
}

TEST_F(AtspiAccessibilityTest, AttributedStringTellsTheTextAndItsFont) {
  setEntryValue("a😀bc hello");
  const auto sample =
      ax().parameterizedAttribute(entry_, AXParameterizedAttribute::attributedStringForRange, AXTextRange{1, 3});
  ASSERT_TRUE(sample);
  const auto& attributed = std::get<AXAttributedText>(*sample);
  EXPECT_EQ(attributed.text, "😀b");
  ASSERT_TRUE(attributed.fontFamily);
  EXPECT_FALSE(attributed.fontFamily->empty());
  ASSERT_TRUE(attributed.fontSize);
  EXPECT_GT(*attributed.fontSize, 0);
}

TEST_F(AtspiAccessibilityTest, WhatAT_SPIHasNoCounterpartForIsAbsent) {
  EXPECT_FALSE(ax().attribute(application_, "AXManualAccessibility"));
  EXPECT_FALSE(ax().attribute(entry_, "AXTextMarkerForIndex"));
  EXPECT_EQ(ax().setAttribute(application_, "AXManualAccessibility", true).error().kind,
            AXErrorKind::attributeUnsupported);
  EXPECT_FALSE(ax().attribute(AccessibilityElement{}, AXAttribute::role));
}

}  // namespace
}  // namespace quillet::platform::atspi
