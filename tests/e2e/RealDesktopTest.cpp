#include "tests/support/RealDesktop.h"
#include "tests/support/ShownTextArea.h"

#include <signal.h>

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "tests/support/FileContents.h"
#include "tests/support/RunLoopUntil.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::test {
namespace {

using platform::AccessibilityElement;
using platform::AXAttribute;

QCoreApplication& qtApplication() {
  static int argc = 1;
  static char name[] = "quillet_real_desktop_e2e_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);
  return application;
}

// One desktop for the whole suite: libatspi reads the environment once, when it first connects, and keeps
// that connection for the whole process.
struct EditorDesktop {
  EditorDesktop() {
    desktop.useInThisProcess();
    loop = std::make_unique<platform::qt::QtMainLoop>();
    accessibility = std::make_unique<platform::atspi::AtspiAccessibility>(*loop);
  }

  RealDesktop desktop;
  std::unique_ptr<platform::qt::QtMainLoop> loop;
  std::unique_ptr<platform::atspi::AtspiAccessibility> accessibility;
};

constexpr char kLetter[] = "Dear Ada,\nthe engine runs.\n";

class RealDesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qtApplication();
    suite_ = new EditorDesktop();
  }
  static void TearDownTestSuite() {
    delete suite_;
    suite_ = nullptr;
  }

  void SetUp() override { ASSERT_NE(suite_, nullptr); }

  static RealDesktop& desktop() { return suite_->desktop; }
  static platform::atspi::AtspiAccessibility& ax() { return *suite_->accessibility; }

  static bool runUntil(const std::function<bool()>& condition, double seconds = 20) {
    return runLoopUntil(*suite_->loop, condition, seconds);
  }

  std::filesystem::path fileWith(const std::string& name, const std::string& contents) {
    const auto path = files_.path() / name;
    writeFile(path, contents);
    return path;
  }

  // The editor's document view, once the editor has registered with the accessibility bus and shows it.
  static AccessibilityElement documentViewOf(const DesktopApplication& editor) {
    return test::documentViewOf(ax(), *suite_->loop, editor.processId());
  }

  static std::optional<std::string> shownText(const AccessibilityElement& view) {
    return ax().typedAttribute<std::string>(view, AXAttribute::value);
  }

  // Waits until the view shows `expected`; on failure the message tells what it showed.
  static ::testing::AssertionResult showsText(const AccessibilityElement& view, const std::string& expected) {
    if (runUntil([&] { return shownText(view) == expected; })) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the view shows \"" << shownText(view).value_or("(nothing)")
                                         << "\" instead of \"" << expected << "\"";
  }

  static inline EditorDesktop* suite_ = nullptr;
  TemporaryDirectory files_;
};

TEST_F(RealDesktopTest, MousepadShowsTheFileItOpenedInItsActiveWindow) {
  const auto file = fileWith("letter.txt", kLetter);
  const auto editor = desktop().launchMousepad(file);

  EXPECT_EQ(desktop().activeWindow(), editor->windowId());
  const auto view = documentViewOf(*editor);
  ASSERT_FALSE(view.isNone()) << "no text area on screen in mousepad:\n" << editor->log();
  EXPECT_TRUE(showsText(view, kLetter));
}

TEST_F(RealDesktopTest, GeditShowsTheFileItOpenedWithoutItsLastLineBreak) {
  const auto file = fileWith("letter.txt", kLetter);
  const auto editor = desktop().launchGedit(file);

  EXPECT_EQ(desktop().activeWindow(), editor->windowId());
  const auto view = documentViewOf(*editor);
  ASSERT_FALSE(view.isNone()) << "no text area on screen in gedit:\n" << editor->log();
  // gedit keeps a file's final line break out of its buffer and writes it back on saving.
  EXPECT_TRUE(showsText(view, "Dear Ada,\nthe engine runs."));
}

TEST_F(RealDesktopTest, TextTypedIntoMousepadIsOnDiskAfterCtrlS) {
  const auto file = fileWith("letter.txt", kLetter);
  const auto editor = desktop().launchMousepad(file);
  const auto view = documentViewOf(*editor);
  ASSERT_FALSE(view.isNone());
  // Keys typed before the document is loaded would land in an empty buffer.
  ASSERT_TRUE(showsText(view, kLetter));

  ASSERT_TRUE(desktop().typeText("PS: "));
  ASSERT_TRUE(showsText(view, std::string("PS: ") + kLetter));
  ASSERT_TRUE(desktop().save(*editor, file)) << "the file did not change after Ctrl+S";

  EXPECT_EQ(readFile(file), std::string("PS: ") + kLetter);
}

TEST_F(RealDesktopTest, TextTypedIntoGeditIsOnDiskAfterCtrlS) {
  const auto file = fileWith("letter.txt", kLetter);
  const auto editor = desktop().launchGedit(file);
  const auto view = documentViewOf(*editor);
  ASSERT_FALSE(view.isNone());
  ASSERT_TRUE(showsText(view, "Dear Ada,\nthe engine runs."));

  ASSERT_TRUE(desktop().pressKeys("ctrl+End"));
  ASSERT_TRUE(desktop().typeText("\nYours, C."));
  ASSERT_TRUE(showsText(view, "Dear Ada,\nthe engine runs.\nYours, C."));
  ASSERT_TRUE(desktop().save(*editor, file)) << "the file did not change after Ctrl+S";

  EXPECT_EQ(readFile(file), "Dear Ada,\nthe engine runs.\nYours, C.\n");
}

TEST_F(RealDesktopTest, XtermRunningCatWritesTheTypedLinesToItsFile) {
  const auto file = files_.path() / "typed.txt";
  const auto terminal = desktop().launchXterm("cat > '" + file.string() + "'");
  EXPECT_EQ(desktop().activeWindow(), terminal->windowId());

  ASSERT_TRUE(desktop().typeText("first line\nsecond, with $HOME & 'quotes'\n"));

  EXPECT_TRUE(RealDesktop::waitForFileContents(file, "first line\nsecond, with $HOME & 'quotes'\n"))
      << "the file holds \"" << readFile(file) << "\"";
}

TEST_F(RealDesktopTest, KeysGoToTheWindowActivatedByAltTabOrByCommand) {
  const auto first = files_.path() / "first.txt";
  const auto second = files_.path() / "second.txt";
  const auto firstTerminal = desktop().launchXterm("cat > '" + first.string() + "'");
  const auto secondTerminal = desktop().launchXterm("cat > '" + second.string() + "'");
  ASSERT_NE(firstTerminal->windowId(), secondTerminal->windowId());
  ASSERT_EQ(desktop().activeWindow(), secondTerminal->windowId()) << "the new window did not get the focus";

  EXPECT_EQ(desktop().switchWindowByKeyboard(), firstTerminal->windowId());
  ASSERT_TRUE(desktop().typeText("to the first\n"));
  EXPECT_TRUE(RealDesktop::waitForFileContents(first, "to the first\n")) << "first.txt holds \"" << readFile(first) << "\"";

  ASSERT_TRUE(desktop().activate(*secondTerminal));
  ASSERT_TRUE(desktop().typeText("to the second\n"));
  EXPECT_TRUE(RealDesktop::waitForFileContents(second, "to the second\n")) << "second.txt holds \"" << readFile(second) << "\"";
  EXPECT_EQ(readFile(first), "to the first\n");
}

TEST_F(RealDesktopTest, AnApplicationThatGoesTakesItsWindowAlong) {
  auto terminal = desktop().launchXterm("cat > /dev/null");
  const pid_t processId = terminal->processId();
  ASSERT_EQ(desktop().windowsOf(processId), std::vector<WindowId>{terminal->windowId()});

  terminal.reset();

  EXPECT_EQ(::kill(processId, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  // The server drops the windows when it sees the connection close, which may come just after the exit.
  EXPECT_TRUE(RealDesktop::waitUntil([&] { return desktop().windowsOf(processId).empty(); }, std::chrono::seconds(10)));
}

TEST_F(RealDesktopTest, ScreenshotIsAPngOfTheWholeScreen) {
  const auto png = files_.path() / "screen.png";

  ASSERT_TRUE(desktop().screenshot(png));

  const std::string bytes = readFile(png);
  ASSERT_GE(bytes.size(), 24u);
  EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n");
  // The header chunk's width and height, big-endian: the private X server's 640x480 screen.
  EXPECT_EQ(bytes.substr(16, 8), std::string("\0\0\x02\x80\0\0\x01\xe0", 8));
}

}  // namespace
}  // namespace quillet::test
