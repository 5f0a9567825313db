// The host's preferences file as the agent reads it: every parse rule on a table of files, what is kept when the file
// is unusable, and the real folder watch (inotify) seeing the host rewrite, replace and delete the file.
#include "quillet-dictate/shell/DictatePrefsBridge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/inotify/InotifyFolderWatch.h"
#include "platform/linux/xdg/XdgPaths.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

using Combo = DictateHotkey::Combo;
using HoldKey = DictateHotkey::HoldKey;

DictatePrefs prefsOf(bool floatingMic, DictateHotkey::Kind kind) {
  return DictatePrefs{floatingMic, {std::move(kind)}};
}

const DictatePrefs kDefaults = prefsOf(true, DictateHotkey::Fn{});
const DictatePrefs kCommandShiftD = prefsOf(false, Combo{2, {"command", "shift"}});
const std::string kCommandShiftDFile =
    R"({"floatingMic": false, "hotkey": {"type": "combo", "keyCode": 2, "modifiers": ["command", "shift"]}})";

class DictatePrefsBridgeTest : public ::testing::Test {
 protected:
  DictatePrefsBridgeTest() {
    bridge.onChange = [this](const DictatePrefs& prefs) { delivered.push_back(prefs); };
  }

  [[nodiscard]] std::filesystem::path file() const { return config.path() / "Quillet" / "dictate-prefs.json"; }

  void hostWrites(const std::string& contents) const {
    std::filesystem::create_directories(file().parent_path());
    std::ofstream(file(), std::ios::binary | std::ios::trunc) << contents;
  }

  // The preferences the next load delivers.
  DictatePrefs loaded() {
    delivered.clear();
    bridge.load();
    EXPECT_EQ(delivered.size(), 1u) << "every load delivers once";
    return delivered.empty() ? DictatePrefs{} : delivered.back();
  }

  quillet::test::TemporaryDirectory config;
  platform::xdg::XdgPaths paths{[this](std::string_view name) -> std::optional<std::string> {
    if (name == "XDG_CONFIG_HOME") return config.path().string();
    return std::nullopt;
  }};
  platform::fake::VirtualMainLoop loop;
  platform::inotify::InotifyFolderWatch watch{loop};
  quillet::test::TemporaryDirectory logFolder;
  quillet::test::CapturedLog captured;
  VxLog log{logFolder.path() / "vessio.log", loop, captured.mirror()};
  DictatePrefsBridge bridge{paths, watch, loop, log};
  std::vector<DictatePrefs> delivered;
};

TEST_F(DictatePrefsBridgeTest, WithoutAFileTheLaunchDefaultsAreDeliveredAndTheFolderIsMade) {
  EXPECT_EQ(bridge.fileURL(), file());
  EXPECT_TRUE(std::filesystem::is_directory(file().parent_path()));
  EXPECT_EQ(loaded(), kDefaults);
}

TEST_F(DictatePrefsBridgeTest, EachFileGivesItsPreferences) {
  struct Case {
    const char* contents;
    DictatePrefs expected;
  };
  const Case cases[] = {
      {R"({"hotkey": {"type": "holdKey", "keyCode": 61}})", prefsOf(true, HoldKey{61})},
      {kCommandShiftDFile.c_str(), kCommandShiftD},
      {R"({"hotkey": {"type": "combo"}})", kDefaults},
      {R"({"hotkey": {"type": "combo", "keyCode": 2, "modifiers": "command"}})", prefsOf(true, Combo{2, {}})},
      {R"({"hotkey": {"type": "combo", "keyCode": 2, "modifiers": ["command", 3]}})", prefsOf(true, Combo{2, {}})},
      {R"({"hotkey": {"type": "shiftDouble"}, "floatingMic": false})", prefsOf(false, DictateHotkey::ShiftDouble{})},
      {R"({"hotkey": {"type": "fn", "keyCode": 61}})", kDefaults},
      {R"({"hotkey": {"type": "holdKey", "keyCode": 70000}})", kDefaults},
      {R"({"hotkey": {"type": "holdKey", "keyCode": -1}})", kDefaults},
      {R"({"hotkey": {"type": "holdKey", "keyCode": 61.5}})", kDefaults},
      {R"({"hotkey": {"type": "holdKey", "keyCode": "61"}})", kDefaults},
      {R"({"hotkey": {"type": "holdKey", "keyCode": 65535}})", prefsOf(true, HoldKey{65535})},
      {R"({"hotkey": {"type": "doubleTap"}})", kDefaults},
      {R"({"hotkey": "combo", "floatingMic": "no"})", kDefaults},
      {R"({"floatingMic": false, "somethingNew": [1, 2]})", prefsOf(false, DictateHotkey::Fn{})},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.contents);
    hostWrites(testCase.contents);
    EXPECT_EQ(loaded(), testCase.expected);
  }
  hostWrites(kCommandShiftDFile);
  (void)loaded();
  EXPECT_THAT(
      captured.messages(),
      Contains("⚙️ dictate-prefs loaded: floatingMic=false hotkey=combo(keyCode: 2, modifiers: [command, shift])"));
}

TEST_F(DictatePrefsBridgeTest, AnUnusableFileKeepsThePreferencesAndDeliversThemAgain) {
  hostWrites(kCommandShiftDFile);
  ASSERT_EQ(loaded(), kCommandShiftD);
  const std::string tenMegabytes =
      "{\"floatingMic\": true, \"padding\": \"" + std::string(10 * 1024 * 1024, 'x') + "\"}";
  struct Case {
    const char* name;
    std::string contents;
  };
  const Case cases[] = {
      {"a top-level array", R"([{"floatingMic": true}])"},
      {"invalid UTF-8", "{\"floatingMic\": true, \"hotkey\": {\"type\": \"fn\xC3\x28\"}}"},
      {"cut short", R"({"floatingMic": true, "hotkey": {)"},
      {"empty", ""},
      {"a 10 MB file", tenMegabytes},
  };
  for (const Case& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    hostWrites(testCase.contents);
    EXPECT_EQ(loaded(), kCommandShiftD);
  }
  std::filesystem::remove(file());
  EXPECT_EQ(loaded(), kCommandShiftD) << "a deleted file keeps what was loaded last";
}

TEST_F(DictatePrefsBridgeTest, TheHostRewritingReplacingAndDeletingTheFileIsEachDelivered) {
  hostWrites(kCommandShiftDFile);
  bridge.load();
  bridge.beginWatching();
  delivered.clear();
  // Waits for the watch to report a change to the file, then lets the 0.1 s delay pass.
  const auto deliveredAfterChange = [&] {
    const auto before = delivered.size();
    EXPECT_TRUE(loop.runUntil([&] { return loop.activeTimerCount() > 0; })) << "no change was reported";
    loop.advance(DictatePrefsBridge::kReloadDelaySeconds - 0.01);
    EXPECT_EQ(delivered.size(), before) << "the load waits 0.1 s";
    loop.advance(0.01);
    return delivered.size() > before ? delivered.back() : DictatePrefs{};
  };

  hostWrites(R"({"hotkey": {"type": "holdKey", "keyCode": 96}})");
  EXPECT_EQ(deliveredAfterChange(), prefsOf(true, HoldKey{96})) << "rewritten in place";

  const auto temporary = file().parent_path() / ".dictate-prefs.json.tmp";
  std::ofstream(temporary) << R"({"hotkey": {"type": "shiftDouble"}})";
  std::filesystem::rename(temporary, file());
  EXPECT_EQ(deliveredAfterChange(), prefsOf(true, DictateHotkey::ShiftDouble{})) << "replaced by a rename";

  std::filesystem::remove(file());
  EXPECT_EQ(deliveredAfterChange(), prefsOf(true, DictateHotkey::ShiftDouble{})) << "deleted: the last ones again";

  // Another file of the folder, such as the settings store, is not the preferences.
  std::ofstream(file().parent_path() / "defaults.sqlite") << "not the preferences";
  loop.runUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(loop.activeTimerCount(), 0u);
}

TEST_F(DictatePrefsBridgeTest, TwoRewritesWithinTheDelayLoadTwiceEachReadingTheFileAsItIsThen) {
  hostWrites(kCommandShiftDFile);  // present already: each rewrite below is one change
  bridge.beginWatching();
  hostWrites(R"({"hotkey": {"type": "holdKey", "keyCode": 96}})");
  ASSERT_TRUE(loop.runUntil([&] { return loop.activeTimerCount() == 1; }));
  loop.advance(0.05);
  hostWrites(R"({"hotkey": {"type": "holdKey", "keyCode": 97}})");
  ASSERT_TRUE(loop.runUntil([&] { return loop.activeTimerCount() == 2; }));
  loop.advance(0.05);
  loop.advance(0.05);
  EXPECT_THAT(delivered, ElementsAre(prefsOf(true, HoldKey{97}), prefsOf(true, HoldKey{97})));
}

TEST_F(DictatePrefsBridgeTest, AFolderThatCannotBeMadeIsLoggedAndTheDefaultsStillArrive) {
  // The configuration home is a file, so no folder can be made or watched beneath it.
  const auto notAFolder = config.path() / "plain-file";
  std::ofstream(notAFolder) << "x";
  platform::xdg::XdgPaths brokenPaths{[&](std::string_view name) -> std::optional<std::string> {
    if (name == "XDG_CONFIG_HOME") return notAFolder.string();
    return std::nullopt;
  }};
  DictatePrefsBridge stranded{brokenPaths, watch, loop, log};
  std::vector<DictatePrefs> received;
  stranded.onChange = [&](const DictatePrefs& prefs) { received.push_back(prefs); };
  stranded.load();
  stranded.beginWatching();
  EXPECT_THAT(received, ElementsAre(kDefaults));
  EXPECT_THAT(captured.messages(), Contains(::testing::StartsWith("⚙️ dictate-prefs not watched: cannot watch ")));
}

}  // namespace
}  // namespace quillet::dictate
