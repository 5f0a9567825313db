// The shortcut recogniser on virtual time: each kind of shortcut as a script of key events at given moments, the
// actions it leads to and when, and what is swallowed.
#include "quillet-dictate/shell/ShortcutRecognizer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/fake/FakeKeyboardTap.h"
#include "platform/fake/VirtualMainLoop.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

using platform::KeyEvent;
using platform::KeyVerdict;
using platform::SwallowedKey;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
namespace flag = platform::key_flag;

constexpr std::uint16_t kD = 2;
constexpr std::uint16_t kLeftArrow = 123;
constexpr std::uint16_t kF5 = 96;
constexpr std::uint16_t kShift = 56;
constexpr std::uint16_t kCommand = 55;
constexpr std::uint16_t kOption = 58;
constexpr std::uint16_t kRightOption = 61;
constexpr std::uint16_t kRightControl = 62;
constexpr std::uint16_t kFn = 63;

// One key event at a moment of the script.
struct Step {
  double at;
  KeyEvent event;
};

Step modifier(double at, std::uint16_t keyCode, bool down, std::uint64_t flags) {
  return {at, {KeyEvent::Type::flagsChanged, keyCode, flags, down, false}};
}
Step keyDown(double at, std::uint16_t keyCode, std::uint64_t flags = 0, bool repeat = false) {
  return {at, {KeyEvent::Type::keyDown, keyCode, flags, false, repeat}};
}
Step keyUp(double at, std::uint16_t keyCode, std::uint64_t flags = 0) {
  return {at, {KeyEvent::Type::keyUp, keyCode, flags, false, false}};
}
// Fn pressed at `down` and released at `up`.
std::vector<Step> fnPress(double down, double up) {
  return {modifier(down, kFn, true, flag::fn), modifier(up, kFn, false, 0)};
}
std::vector<Step> shiftTap(double down, double up) {
  return {modifier(down, kShift, true, flag::shift), modifier(up, kShift, false, 0)};
}
std::vector<Step> operator+(std::vector<Step> first, const std::vector<Step>& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

std::string moment(const char* action, double at) {
  char text[48];
  std::snprintf(text, sizeof text, "%s@%.2f", action, at);
  return text;
}

class ShortcutRecognizerTest : public ::testing::Test {
 protected:
  ShortcutRecognizerTest() { recognizer.registerHotkey(); }

  // Plays the steps at their moments (seconds from now) and lets everything due within two seconds after the last one
  // happen; answers the verdict of each step.
  std::vector<KeyVerdict> play(const std::vector<Step>& steps) {
    scriptStart = loop.now();
    std::vector<KeyVerdict> verdicts;
    for (const Step& step : steps) {
      loop.advance(scriptStart + step.at - loop.now());
      verdicts.push_back(tap.send(step.event).value_or(KeyVerdict::pass));
      loop.runPending();
    }
    loop.advance(2);
    return verdicts;
  }

  // An action as "name@seconds" from the start of the script being played.
  void record(const char* name) { actions.push_back(moment(name, loop.now() - scriptStart)); }

  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeKeyboardTap tap;
  quillet::test::TemporaryDirectory folder;
  quillet::test::CapturedLog captured;
  VxLog log{folder.path() / "vessio.log", loop, captured.mirror()};
  std::vector<std::string> actions;
  double scriptStart = 0;
  ShortcutRecognizer recognizer{tap, loop, loop, log, {[this] { record("trigger"); }, [this] { record("stop"); }}};
};

TEST_F(ShortcutRecognizerTest, FnTapsToggleAndHoldsTalk) {
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"a 0.2 s tap", fnPress(0, 0.2), {"trigger@0.20"}},
      {"a 1 s hold", fnPress(0, 1.0), {"trigger@0.35", "stop@1.00"}},
      {"a 0.4 s press is a short hold", fnPress(0, 0.4), {"trigger@0.35", "stop@0.40"}},
      {"an arrow while Fn is held",
       {modifier(0, kFn, true, flag::fn), keyDown(0.1, kLeftArrow, flag::fn), keyUp(0.15, kLeftArrow, flag::fn),
        modifier(1.0, kFn, false, 0)},
       {}},
      {"an arrow, then a quick release",
       {modifier(0, kFn, true, flag::fn), keyDown(0.1, kLeftArrow, flag::fn), modifier(0.2, kFn, false, 0)},
       {}},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    actions.clear();
    const auto verdicts = play(testCase.steps);
    EXPECT_EQ(actions, testCase.expected);
    EXPECT_EQ(verdicts.front(), KeyVerdict::swallow) << "Fn never reaches other applications";
    EXPECT_EQ(verdicts.back(), KeyVerdict::swallow);
  }
  EXPECT_THAT(captured.messages(), Contains("🔑 Fn held 0.35s → dictate (hold-to-talk)"));
  EXPECT_THAT(captured.messages(), Contains("🔑 Fn hold released → stop + insert"));
  EXPECT_THAT(captured.messages(), Contains("🔑 Fn → dictate"));
  EXPECT_THAT(tap.swallowed, ElementsAre(SwallowedKey{kFn, std::nullopt}));
}

TEST_F(ShortcutRecognizerTest, DoubleShiftTogglesOnceAndNeverSwallowsShift) {
  recognizer.setHotkey(DictateHotkey::ShiftDouble{});
  EXPECT_THAT(tap.swallowed, IsEmpty());
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"two taps within 0.55 s", shiftTap(0, 0.1) + shiftTap(0.3, 0.4), {"trigger@0.40"}},
      {"the gap too long", shiftTap(0, 0.1) + shiftTap(0.6, 0.7), {}},
      {"a tap held too long", shiftTap(0, 0.7) + shiftTap(0.8, 0.9), {}},
      {"a capital letter between",
       shiftTap(0, 0.1) +
           std::vector<Step>{modifier(0.2, kShift, true, flag::shift), keyDown(0.25, kD, flag::shift),
                             modifier(0.3, kShift, false, 0)} +
           shiftTap(0.4, 0.45),
       {}},
      {"Command held with Shift",
       shiftTap(0, 0.1) + std::vector<Step>{modifier(0.2, kCommand, true, flag::command),
                                            modifier(0.25, kShift, true, flag::command | flag::shift),
                                            modifier(0.3, kShift, false, flag::command),
                                            modifier(0.35, kCommand, false, 0)},
       {}},
      {"a third tap starts a new pair",
       shiftTap(0, 0.1) + shiftTap(0.2, 0.3) + shiftTap(0.4, 0.5) + shiftTap(0.6, 0.7),
       {"trigger@0.30", "trigger@0.70"}},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    actions.clear();
    const auto verdicts = play(testCase.steps);
    EXPECT_EQ(actions, testCase.expected);
    for (const KeyVerdict verdict : verdicts) EXPECT_EQ(verdict, KeyVerdict::pass);
  }
  EXPECT_THAT(captured.messages(), Contains("🔑 double-Shift → dictate"));
}

TEST_F(ShortcutRecognizerTest, AHoldKeyTapsHoldsAndIgnoresItsAutoRepeat) {
  struct Case {
    const char* name;
    std::uint16_t key;
    std::vector<Step> steps;
    std::vector<std::string> expected;
    KeyVerdict verdict;
  };
  const Case cases[] = {
      {"F5 for 0.2 s", kF5, {keyDown(0, kF5), keyUp(0.2, kF5)}, {"trigger@0.20"}, KeyVerdict::swallow},
      {"F5 held 2 s with auto-repeat",
       kF5,
       {keyDown(0, kF5), keyDown(0.5, kF5, 0, true), keyDown(0.55, kF5, 0, true), keyUp(2.0, kF5)},
       {"trigger@0.35", "stop@2.00"},
       KeyVerdict::swallow},
      {"F5 held exactly the arm delay",
       kF5,
       {keyDown(0, kF5), keyUp(0.35, kF5)},
       {"trigger@0.35", "stop@0.35"},
       KeyVerdict::swallow},
      {"right Option tapped",
       kRightOption,
       {modifier(0, kRightOption, true, flag::option), modifier(0.1, kRightOption, false, 0)},
       {"trigger@0.10"},
       KeyVerdict::pass},
      {"right Option held while left Option stays down",
       kRightOption,
       {modifier(0, kOption, true, flag::option), modifier(0.1, kRightOption, true, flag::option),
        modifier(1.0, kRightOption, false, flag::option), modifier(1.5, kOption, false, 0)},
       {"trigger@0.45", "stop@1.00"},
       KeyVerdict::pass},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    recognizer.setHotkey(DictateHotkey::HoldKey{testCase.key});
    actions.clear();
    const auto verdicts = play(testCase.steps);
    EXPECT_EQ(actions, testCase.expected);
    EXPECT_EQ(verdicts.back(), testCase.verdict);
  }
  recognizer.setHotkey(DictateHotkey::HoldKey{kF5});
  EXPECT_THAT(tap.swallowed, ElementsAre(SwallowedKey{kF5, std::nullopt}));
  recognizer.setHotkey(DictateHotkey::HoldKey{kRightOption});
  EXPECT_THAT(tap.swallowed, IsEmpty()) << "a modifier key stays the desktop's";
  EXPECT_THAT(captured.messages(), Contains("🔑 hold-key tap → dictate (toggle)"));
  EXPECT_THAT(captured.messages(), Contains("🔑 hold-key held → dictate (hold-to-talk)"));
  EXPECT_THAT(captured.messages(), Contains("🔑 hold-key released → stop + insert"));
}

TEST_F(ShortcutRecognizerTest, ACombinationMatchesItsExactModifiers) {
  recognizer.setHotkey(DictateHotkey::Combo{kD, {"command", "shift"}});
  EXPECT_THAT(tap.swallowed, ElementsAre(SwallowedKey{kD, flag::command | flag::shift}));
  struct Case {
    const char* name;
    std::uint64_t flags;
    bool repeat;
    std::vector<std::string> expected;
    KeyVerdict verdict;
  };
  const Case cases[] = {
      {"Command-Shift-D", flag::command | flag::shift, false, {"trigger@0.00"}, KeyVerdict::swallow},
      {"with Caps Lock on", flag::command | flag::shift | flag::capsLock, false, {"trigger@0.00"}, KeyVerdict::swallow},
      {"Command-Option-Shift-D", flag::command | flag::option | flag::shift, false, {}, KeyVerdict::pass},
      {"Command-D", flag::command, false, {}, KeyVerdict::pass},
      {"the combination's auto-repeat", flag::command | flag::shift, true, {}, KeyVerdict::swallow},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    actions.clear();
    const auto verdicts = play({keyDown(0, kD, testCase.flags, testCase.repeat), keyUp(0.1, kD, testCase.flags)});
    EXPECT_EQ(actions, testCase.expected);
    EXPECT_EQ(verdicts.front(), testCase.verdict);
  }
}

TEST_F(ShortcutRecognizerTest, AChangeOfKindTakesEffectAtTheNextEvent) {
  recognizer.setHotkey(DictateHotkey::Combo{kD, {"command"}});
  EXPECT_THAT(play(fnPress(0, 0.2)), ElementsAre(KeyVerdict::pass, KeyVerdict::pass));
  EXPECT_THAT(actions, IsEmpty());
  recognizer.setHotkey(DictateHotkey::Fn{});
  play(fnPress(0, 0.2));
  EXPECT_THAT(actions, ElementsAre("trigger@0.20"));
  EXPECT_THAT(tap.swallowed, ElementsAre(SwallowedKey{kFn, std::nullopt}));
}

TEST_F(ShortcutRecognizerTest, WithoutAnFnKeyRightControlStandsInAndIsOnlyObserved) {
  platform::fake::FakeKeyboardTap plainKeyboard;
  plainKeyboard.fnKey = false;
  std::vector<std::string> triggered;
  ShortcutRecognizer plain{plainKeyboard,
                           loop,
                           loop,
                           log,
                           {[&] { triggered.push_back(moment("trigger", loop.now())); },
                            [&] { triggered.push_back(moment("stop", loop.now())); }}};
  plain.registerHotkey();
  EXPECT_THAT(captured.messages(),
              Contains("⌨️ no Fn key on this keyboard: the Fn shortcut listens to Right Control"));
  EXPECT_THAT(plainKeyboard.swallowed, IsEmpty());

  const auto send = [&](const Step& step) {
    loop.advance(step.at);
    const auto verdict = plainKeyboard.send(step.event);
    loop.runPending();
    return verdict;
  };
  const double start = loop.now();
  EXPECT_EQ(send(modifier(0, kRightControl, true, flag::control)), KeyVerdict::pass);
  EXPECT_EQ(send(modifier(0.2, kRightControl, false, 0)), KeyVerdict::pass);
  EXPECT_THAT(triggered, ElementsAre(moment("trigger", start + 0.2)));

  triggered.clear();
  send(modifier(1, kRightControl, true, flag::control));
  loop.advance(1);
  send(modifier(0, kRightControl, false, 0));
  EXPECT_EQ(triggered.size(), 2u) << "a hold talks: trigger at the arm, stop at the release";

  triggered.clear();
  send(modifier(1, kRightControl, true, flag::control));
  send(keyDown(0.05, 8, flag::control));  // Control+C, a copy
  send(modifier(0.05, kRightControl, false, 0));
  loop.advance(1);
  EXPECT_THAT(triggered, IsEmpty()) << "another key while it is held cancels";

  send(modifier(1, 59, true, flag::control));  // left Control does not stand in
  send(modifier(0.1, 59, false, 0));
  loop.advance(1);
  EXPECT_THAT(triggered, IsEmpty());
}

TEST_F(ShortcutRecognizerTest, KeysThatCannotBeObservedOrTakenAreLogged) {
  platform::fake::FakeKeyboardTap broken;
  broken.startError = Error("no XInput2 on this display");
  ShortcutRecognizer blind{broken, loop, loop, log, {}};
  blind.registerHotkey();
  EXPECT_THAT(
      captured.messages(),
      Contains("⚠️ Failed to install Fn event tap (no XInput2 on this display) — no shortcut is observed"));

  platform::fake::FakeKeyboardTap contested;
  contested.swallowError = Error("Super+Shift+D is grabbed by another program");
  ShortcutRecognizer observing{contested, loop, loop, log, {[this] { record("trigger"); }, {}}};
  observing.registerHotkey();
  observing.setHotkey(DictateHotkey::Combo{kD, {"command", "shift"}});
  EXPECT_THAT(captured.messages(), Contains("⚠️ shortcut keys not swallowed (Super+Shift+D is grabbed by another "
                                            "program) — observing them only"));
  contested.send(keyDown(0, kD, flag::command | flag::shift).event);
  loop.runPending();
  EXPECT_THAT(actions, ElementsAre(::testing::StartsWith("trigger@"))) << "still recognised while only observed";
}

}  // namespace
}  // namespace quillet::dictate
