#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/FakeAppIdentity.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/qt/QtPasteboard.h"
#include "platform/linux/x11/X11ApplicationActivation.h"
#include "platform/linux/x11/XTestKeySynth.h"
#include "quillet-dictate/accessibility/ContextSniffer.h"
#include "quillet-dictate/accessibility/TextInsertion.h"
#include "quillet-dictate/shell/VxLog.h"
#include "tests/support/AccessibilityBus.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/GtkTestApplication.h"
#include "tests/support/RunLoopUntil.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

using platform::AccessibilityElement;
using platform::AXAttribute;
using test::AccessibilityBus;
using test::ChildProcess;

using GtkApplication = test::GtkTestApplication;

// The desktop for the whole suite: Qt's clipboard and libatspi each connect once per process.
struct InsertionDesktop {
  InsertionDesktop() {
    for (const auto& [name, value] : bus.environment()) ::setenv(name.c_str(), value.c_str(), 1);
    for (const auto& name : AccessibilityBus::removedVariables()) ::unsetenv(name.c_str());
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "quillet_insertion_e2e_tests";
    static char* argv[] = {name, nullptr};
    application = std::make_unique<QGuiApplication>(argc, argv);
    loop = std::make_unique<platform::qt::QtMainLoop>();
    accessibility = std::make_unique<platform::atspi::AtspiAccessibility>(*loop);
    fields = std::make_unique<GtkApplication>(bus, folder.path(), "fields-app.py");
    pasteTarget = std::make_unique<GtkApplication>(bus, folder.path(), "paste-target-app.py");
  }

  test::TemporaryDirectory folder;
  AccessibilityBus bus;
  std::unique_ptr<QGuiApplication> application;
  std::unique_ptr<platform::qt::QtMainLoop> loop;
  std::unique_ptr<platform::atspi::AtspiAccessibility> accessibility;
  std::unique_ptr<GtkApplication> fields;
  std::unique_ptr<GtkApplication> pasteTarget;
  platform::qt::QtPasteboard pasteboard;
  platform::qt::QtPasteboard primarySelection{platform::qt::QtPasteboard::Selection::primary};
  platform::x11::XTestKeySynth keys{bus.displayName()};
  platform::x11::X11ApplicationActivation activation{bus.displayName()};
  platform::fake::FakeAppIdentity identity;
};

class TextInsertionDesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { desktop_ = new InsertionDesktop(); }
  static void TearDownTestSuite() {
    delete desktop_;
    desktop_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(desktop_, nullptr);
    ASSERT_TRUE(runUntil([&] { return ax().isTrusted(); })) << "the accessibility bus never became usable";
    insertion_ = TextInsertion::create({ax(), desktop_->identity, desktop_->pasteboard, desktop_->primarySelection,
                                        desktop_->keys, desktop_->activation, *desktop_->loop, log_,
                                        [] { return InsertionTarget(); }});
  }

  static platform::atspi::AtspiAccessibility& ax() { return *desktop_->accessibility; }

  // Runs the main loop until `condition` holds or `seconds` have passed.
  static bool runUntil(const std::function<bool()>& condition, double seconds = 20) {
    return test::runLoopUntil(*desktop_->loop, condition, seconds);
  }

  std::optional<std::string> text(const AccessibilityElement& element, std::string_view name) {
    return ax().typedAttribute<std::string>(element, name);
  }

  // The first element of the application, breadth first, with the role and no subrole.
  AccessibilityElement find(int processId, const std::string& role) {
    std::deque<AccessibilityElement> queue{ax().applicationElement(processId)};
    for (int visited = 0; !queue.empty() && visited < 500; ++visited) {
      auto element = queue.front();
      queue.pop_front();
      if (text(element, AXAttribute::role) == role && !text(element, AXAttribute::subrole)) return element;
      for (auto& child : ax().typedAttribute<platform::AXElementList>(element, AXAttribute::children)
                             .value_or(platform::AXElementList{})) {
        queue.push_back(std::move(child));
      }
    }
    return {};
  }

  static inline InsertionDesktop* desktop_ = nullptr;
  test::TemporaryDirectory logFolder_;
  test::CapturedLog captured_;
  platform::posix::SystemClock clock_;
  VxLog log_{logFolder_.path() / "vessio.log", clock_, captured_.mirror()};
  std::shared_ptr<TextInsertion> insertion_;
};


TEST_F(TextInsertionDesktopTest, DirectWriteLandsAtTheCaretOfTheEntry) {
  const auto entry = find(desktop_->fields->processId(), "AXTextField");
  ASSERT_FALSE(entry.isNone());
  ASSERT_TRUE(ax().setAttribute(entry, AXAttribute::value, std::string("Hello and bye")).hasValue());
  ASSERT_TRUE(desktop_->fields->run("focus entry"));
  ASSERT_TRUE(desktop_->fields->run("select entry 6 6"));
  ASSERT_TRUE(runUntil([&] {
    return ax().attribute(entry, AXAttribute::selectedTextRange) == platform::AXAttributeValue(platform::AXTextRange{6, 0});
  }));
  desktop_->pasteboard.write(platform::PasteboardContents::withText("untouched"));

  insertion_->insertAtCursor("world", entry);

  EXPECT_EQ(text(entry, AXAttribute::value), "Hello world and bye");
  EXPECT_TRUE(captured_.contains("✏️ insertAtCursor: len=5 landed=true fieldLen=19"));
  EXPECT_FALSE(runUntil([&] { return !desktop_->pasteboard.holdsText("untouched"); }, 1.5))
      << "nothing went through the clipboard";
}

TEST_F(TextInsertionDesktopTest, DroppedWriteIsPastedThroughXTestAndTheClipboardComesBack) {
  auto& target = *desktop_->pasteTarget;
  const auto guarded = find(target.processId(), "AXTextField");
  ASSERT_FALSE(guarded.isNone());
  ASSERT_TRUE(target.run("focus guarded"));
  desktop_->pasteboard.write(platform::PasteboardContents::withText("what the user copied"));

  const auto started = std::chrono::steady_clock::now();
  insertion_->insertAtCursor("h\xC3\xA9llo", guarded);

  EXPECT_TRUE(captured_.contains("✏️ insertAtCursor: AX write dropped, paste fallback"));
  EXPECT_TRUE(runUntil([&] { return text(guarded, AXAttribute::value) == "Draft: h\xC3\xA9llo "; }, 10))
      << "the entry shows: " << text(guarded, AXAttribute::value).value_or("(nothing)");
  EXPECT_TRUE(runUntil([&] { return desktop_->pasteboard.holdsText("what the user copied"); }, 5));
  const auto restoredAfter = std::chrono::steady_clock::now() - started;
  EXPECT_GE(restoredAfter, std::chrono::milliseconds(950)) << "the clipboard is put back only after a second";
}

TEST_F(TextInsertionDesktopTest, CaptureReadsTheVisibleTextOfTheFocusedWindow) {
  const auto entry = find(desktop_->fields->processId(), "AXTextField");
  ASSERT_FALSE(entry.isNone());
  ASSERT_TRUE(ax().setAttribute(entry, AXAttribute::value, std::string("Budget for May")).hasValue());
  platform::fake::FakeWorkspace workspace(*desktop_->loop);
  ContextSniffer sniffer({ax(), workspace, [&] { return entry; }, [] { return std::string("org.gnome.TextEditor"); }});

  const auto context = sniffer.capture();

  EXPECT_EQ(context.text, "Budget for May\nSubject of the note\nFirst line\nSecond line")
      << "the focused field leads, the rest of the window follows in its order";
  EXPECT_EQ(context.bundleID, "org.gnome.TextEditor");
  EXPECT_EQ(context.appHint, PageContext::AppHint::generic);
  EXPECT_FALSE(context.isEmpty);
}

}  // namespace
}  // namespace quillet::dictate
