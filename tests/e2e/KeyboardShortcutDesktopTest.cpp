// The dictation shortcut on a real X display, typed with XTest as a user types: the recogniser over the X11 tap sees
// keys while mousepad has focus, the combination never reaches mousepad while other typing does, and a key another
// program grabbed first is still observed.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/x11/X11KeyboardTap.h"
#include "quillet-dictate/shell/ShortcutRecognizer.h"
#include "quillet-dictate/shell/VxLog.h"
#include "tests/e2e/X11TestClient.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/RealDesktop.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

constexpr std::uint16_t kD = 2;

class KeyboardShortcutDesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { desktop_ = new test::RealDesktop(); }
  static void TearDownTestSuite() {
    delete desktop_;
    desktop_ = nullptr;
  }

  KeyboardShortcutDesktopTest() { recognizer.registerHotkey(); }

  // Runs what the tap has posted until `count` actions have happened, or a few seconds have passed.
  bool waitForActions(std::size_t count) {
    return loop.runUntil([&] { return actions.size() >= count; }, std::chrono::seconds(5));
  }
  // Lets events that may still come arrive, so that a test can tell that none did.
  void settle() {
    loop.runUntil([] { return false; }, std::chrono::milliseconds(500));
  }

  static test::RealDesktop& desk() { return *desktop_; }

  static inline test::RealDesktop* desktop_ = nullptr;
  platform::fake::VirtualMainLoop loop;
  test::TemporaryDirectory folder;
  test::CapturedLog captured;
  VxLog log{folder.path() / "vessio.log", loop, captured.mirror()};
  platform::x11::X11KeyboardTap tap{loop, desk().displayName()};
  std::vector<std::string> actions;
  ShortcutRecognizer recognizer{
      tap, loop, loop, log, {[this] { actions.push_back("trigger"); }, [this] { actions.push_back("stop"); }}};
};

TEST_F(KeyboardShortcutDesktopTest, TheCombinationReachesTheRecogniserAndNeverTheFocusedEditor) {
  ASSERT_TRUE(captured.contains("⌨️ Installed Fn shortcut event tap")) << captured.text();
  recognizer.setHotkey(DictateHotkey::Combo{kD, {"command", "shift"}});
  loop.runUntil([] { return false; }, std::chrono::milliseconds(300));  // the grab is taken on the tap's thread
  const auto file = folder.path() / "typed.txt";
  std::ofstream(file) << "";
  const auto editor = desk().launchMousepad(file);

  ASSERT_TRUE(desk().typeText("a"));
  ASSERT_TRUE(desk().pressKeys("super+shift+d"));
  ASSERT_TRUE(waitForActions(1)) << captured.text();
  ASSERT_TRUE(desk().typeText("d"));
  ASSERT_TRUE(desk().save(*editor, file));
  EXPECT_EQ(test::readFile(file), "ad") << "the plain d reaches mousepad, the combination does not";

  ASSERT_TRUE(desk().pressKeys("super+d"));
  ASSERT_TRUE(desk().pressKeys("super+shift+d"));
  ASSERT_TRUE(waitForActions(2));
  settle();
  EXPECT_EQ(actions, (std::vector<std::string>{"trigger", "trigger"})) << "Super+D is another combination";
}

TEST_F(KeyboardShortcutDesktopTest, DoubleShiftAndAHoldOfTheFnStandInAreSeenWithoutFocus) {
  recognizer.setHotkey(DictateHotkey::ShiftDouble{});
  ASSERT_TRUE(desk().pressKeys("shift"));
  ASSERT_TRUE(desk().pressKeys("shift"));
  ASSERT_TRUE(waitForActions(1)) << captured.text();
  EXPECT_EQ(actions, std::vector<std::string>{"trigger"});

  actions.clear();
  recognizer.setHotkey(DictateHotkey::Fn{});
  if (tap.hasFnKey()) GTEST_SKIP() << "this display's keymap has an Fn key: Right Control does not stand in";
  ASSERT_TRUE(captured.contains("⌨️ no Fn key on this keyboard: the Fn shortcut listens to Right Control"));
  ASSERT_TRUE(desk().holdKey("Control_R", true));
  // The press arms the hold on the recogniser's clock, which stands still until the test moves it.
  ASSERT_TRUE(loop.runUntil([&] { return loop.activeTimerCount() > 0; }, std::chrono::seconds(5)));
  loop.advance(ShortcutRecognizer::kFnHoldArmDelay);
  EXPECT_EQ(actions, std::vector<std::string>{"trigger"});
  ASSERT_TRUE(desk().holdKey("Control_R", false));
  ASSERT_TRUE(waitForActions(2));
  EXPECT_EQ(actions, (std::vector<std::string>{"trigger", "stop"}));
}

TEST_F(KeyboardShortcutDesktopTest, AKeyAnotherProgramGrabbedIsStillObserved) {
  const auto otherProgram = test::grabSuperShiftKeyElsewhere(desk().displayName(), "d");
  ASSERT_NE(otherProgram, nullptr);

  recognizer.setHotkey(DictateHotkey::Combo{kD, {"command", "shift"}});
  EXPECT_TRUE(loop.runUntil([&] {
    return captured.contains(
        "⚠️ shortcut keys not swallowed (key 2 is grabbed by another program) — observing them only");
  })) << captured.text();
  ASSERT_TRUE(desk().pressKeys("super+shift+d"));
  EXPECT_TRUE(waitForActions(1)) << "observed although the other program takes it";
}

TEST(X11KeyboardTapTest, ALostDisplayIsReportedAndAttachedAgainWhenItComesBack) {
  auto server = std::make_unique<test::PrivateXServer>();
  const std::string display = server->displayName();
  platform::fake::VirtualMainLoop loop;
  platform::x11::X11KeyboardTap tap{loop, display};
  std::vector<std::string> notices;
  std::vector<std::uint16_t> pressed;
  ASSERT_FALSE(tap.start(
                      [&](const platform::KeyEvent& event) {
                        if (event.type == platform::KeyEvent::Type::keyDown) pressed.push_back(event.keyCode);
                        return platform::KeyVerdict::pass;
                      },
                      [&](const std::string& message) { notices.push_back(message); })
                   .failed());

  server->stop();
  ASSERT_TRUE(loop.runUntil([&] { return !notices.empty(); }, std::chrono::seconds(10)));
  EXPECT_EQ(notices.front(), "the X display is gone; keys are looked for again when it returns");

  server = std::make_unique<test::PrivateXServer>(std::stoi(display.substr(1)));
  ASSERT_TRUE(loop.runUntil([&] { return notices.size() >= 2; }, std::chrono::seconds(10)));
  EXPECT_EQ(notices.back(), "the X display is back; keys are observed again");
  ASSERT_TRUE(test::ChildProcess::runToSuccess("env", {"DISPLAY=" + display, "xdotool", "key", "a"}));
  EXPECT_TRUE(loop.runUntil([&] { return !pressed.empty(); }, std::chrono::seconds(5)));
  EXPECT_EQ(pressed, std::vector<std::uint16_t>{0}) << "A is key code 0";
}

TEST(X11KeyboardTapTest, KeysGetTheCodeOfTheirPlaceOnAnAnsiKeyboard) {
  test::PrivateXServer server;
  const std::pair<const char*, std::uint16_t> keys[] = {
      {"a", 0},          {"d", 2},      {"q", 12},         {"1", 18},       {"Return", 36},    {"Tab", 48},
      {"space", 49},     {"grave", 50}, {"BackSpace", 51}, {"Escape", 53},  {"Super_L", 55},   {"Shift_L", 56},
      {"Caps_Lock", 57}, {"Alt_L", 58}, {"Control_L", 59}, {"Shift_R", 60}, {"Control_R", 62}, {"KP_Enter", 76},
      {"F1", 122},       {"F5", 96},    {"F12", 111},      {"Home", 115},   {"Prior", 116},    {"Delete", 117},
      {"End", 119},      {"Next", 121}, {"Left", 123},     {"Right", 124},  {"Down", 125},     {"Up", 126},
  };
  for (const auto& [keysym, expected] : keys) {
    SCOPED_TRACE(keysym);
    const unsigned keycode = test::keycodeOfKeysym(server.displayName(), keysym);
    ASSERT_NE(keycode, 0u) << "the display's keymap has no such key";
    EXPECT_EQ(platform::x11::X11KeyboardTap::virtualKeyCodeOf(keycode), expected);
  }
}

}  // namespace
}  // namespace quillet::dictate
