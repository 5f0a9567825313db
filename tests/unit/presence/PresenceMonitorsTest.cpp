// The presence program's start-up, change rules and timers, on virtual time with a scripted desktop.
#include <gtest/gtest.h>

#include <csignal>

#include "tests/unit/presence/PresenceHarness.h"

namespace quillet::presence {
namespace {

using platform::RunningApplication;
using test::PresenceHarness;

const RunningApplication kZoom{101, "us.zoom.xos"};
const RunningApplication kTeams{102, "com.microsoft.teams2"};
const RunningApplication kFirefox{103, "org.mozilla.firefox"};
const RunningApplication kEditor{104, "org.gnome.TextEditor"};
const RunningApplication kNoIdentity{105, std::nullopt};

nlohmann::json types(const std::vector<nlohmann::json>& lines) {
  nlohmann::json result = nlohmann::json::array();
  for (const auto& line : lines) result.push_back(line["type"]);
  return result;
}

TEST(PresenceMonitorsTest, IdleStartWritesOnePresenceLineThenTheBrowsersLine) {
  PresenceHarness harness;
  harness.workspace.browserIds = {"org.mozilla.firefox"};
  harness.start();
  const auto lines = harness.lines();
  ASSERT_EQ(types(lines), nlohmann::json::array({"presence", "browsers"}));
  EXPECT_EQ(lines[0]["micActive"], false);
  EXPECT_EQ(lines[0]["incomingAudio"], false);
  EXPECT_TRUE(lines[0]["meetingApp"].is_null());
  EXPECT_TRUE(lines[0]["frontmostBundleId"].is_null());
  EXPECT_EQ(lines[1]["bundleIds"], nlohmann::json::array({"org.mozilla.firefox"}));

  // Nothing changes, so nothing more is written, and nobody asks who holds the devices.
  harness.loop.advance(60);
  EXPECT_EQ(harness.lines().size(), 2U);
  EXPECT_EQ(harness.audio.inputHoldersRequestCount, 0);
  EXPECT_EQ(harness.audio.outputHoldersRequestCount, 0);
}

TEST(PresenceMonitorsTest, StateFoundAtStartIsReportedByEachMonitorBeforeTheUnconditionalLines) {
  PresenceHarness harness;
  harness.audio.inputRunning = true;
  harness.audio.outputRunning = true;
  harness.workspace.running = {kFirefox, kZoom};
  harness.workspace.frontmost = kZoom;
  harness.start();
  const auto lines = harness.lines();
  // Microphone, then applications, then output: each a change from the initial state.
  ASSERT_EQ(types(lines), nlohmann::json::array({"presence", "presence", "presence", "presence", "browsers"}));
  EXPECT_EQ(lines[0]["micActive"], true);
  EXPECT_TRUE(lines[0]["meetingApp"].is_null());
  EXPECT_EQ(lines[1]["meetingApp"], "zoom");
  EXPECT_EQ(lines[1]["bundleId"], "us.zoom.xos");
  EXPECT_EQ(lines[1]["frontmost"], true);
  EXPECT_EQ(lines[1]["frontmostBundleId"], "us.zoom.xos");
  EXPECT_EQ(lines[1]["incomingAudio"], false);
  EXPECT_EQ(lines[2]["incomingAudio"], true);
  // The unconditional line repeats the whole state.
  EXPECT_EQ(lines[3]["micActive"], true);
  EXPECT_EQ(lines[3]["incomingAudio"], true);
  EXPECT_EQ(lines[3]["meetingApp"], "zoom");
}

TEST(PresenceMonitorsTest, HoldersAreReadHalfASecondInThenEveryTickAndOnlyWhileSomethingRuns) {
  PresenceHarness harness;
  harness.audio.inputRunning = true;
  harness.audio.inputHolderIds = {"b.app", std::nullopt, "a.app", "", "b.app"};
  harness.audio.outputHolderIds = {"player"};
  harness.start();
  const std::size_t startLines = harness.lines().size();

  harness.loop.advance(0.49);
  EXPECT_EQ(harness.lines().size(), startLines);
  harness.loop.advance(0.01);
  auto lines = harness.linesAfter(startLines);
  ASSERT_EQ(lines.size(), 1U);
  // Processes without an identity count for the flag but are not listed; the rest once each, sorted.
  EXPECT_EQ(lines[0]["micApps"], nlohmann::json::array({"a.app", "b.app"}));
  // Outputs are listed while the microphone runs even when no output is playing.
  EXPECT_EQ(lines[0]["outputApps"], nlohmann::json::array({"player"}));

  // Unchanged holders write nothing at the following ticks.
  harness.loop.advance(1.5 * 4);
  EXPECT_EQ(harness.linesAfter(startLines).size(), 1U);

  // The microphone stops: the flag goes at its next poll, the lists at the holders tick after it.
  harness.audio.inputRunning = false;
  const int queriesBefore = harness.audio.inputHoldersRequestCount;
  harness.loop.advance(1.0);
  lines = harness.linesAfter(startLines);
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[1]["micActive"], false);
  EXPECT_EQ(lines[1]["micApps"], nlohmann::json::array({"a.app", "b.app"}));
  harness.loop.advance(0.5);
  lines = harness.linesAfter(startLines);
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_TRUE(lines[2]["micApps"].empty());
  EXPECT_TRUE(lines[2]["outputApps"].empty());
  harness.loop.advance(30);
  EXPECT_EQ(harness.audio.inputHoldersRequestCount, queriesBefore) << "holders read while nothing runs";
  EXPECT_EQ(harness.linesAfter(startLines).size(), 3U);
}

TEST(PresenceMonitorsTest, OutputAloneListsPlayersButNeverAsksWhoRecords) {
  PresenceHarness harness;
  harness.start();
  harness.audio.outputRunning = true;
  harness.audio.outputHolderIds = {"org.videolan.VLC"};
  harness.audio.inputHolderIds = {"recorder"};
  harness.loop.advance(1.5);
  harness.loop.advance(1.5);
  const auto lines = harness.linesAfter(2);
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0]["incomingAudio"], true);
  EXPECT_EQ(lines[1]["outputApps"], nlohmann::json::array({"org.videolan.VLC"}));
  EXPECT_TRUE(lines[1]["micApps"].empty());
  EXPECT_EQ(harness.audio.inputHoldersRequestCount, 0);
}

TEST(PresenceMonitorsTest, EachChangeOfTheDesktopWritesExactlyOneLine) {
  static const struct {
    const char* change;
    std::function<void(PresenceHarness&)> apply;
    const char* member;
    nlohmann::json expected;
  } cases[] = {
      {"microphone starts", [](PresenceHarness& h) { h.audio.inputRunning = true; }, "micActive", true},
      {"output starts", [](PresenceHarness& h) { h.audio.outputRunning = true; }, "incomingAudio", true},
      {"meeting application launches",
       [](PresenceHarness& h) {
         h.workspace.launch(kTeams);
       },
       "meetingApp", "teams"},
      {"front switches between two ordinary applications",
       [](PresenceHarness& h) {
         h.workspace.activate(kFirefox);
       },
       "frontmostBundleId", "org.mozilla.firefox"},
      {"meeting application comes to the front",
       [](PresenceHarness& h) {
         h.workspace.launch(kZoom);
         h.workspace.activate(kZoom);
       },
       "frontmost", true},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.change);
    PresenceHarness harness;
    harness.workspace.running = {kEditor};
    harness.workspace.frontmost = kEditor;
    harness.start();
    const std::size_t startLines = harness.lines().size();
    testCase.apply(harness);
    harness.loop.advance(1.5);
    const auto lines = harness.linesAfter(startLines);
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0][testCase.member], testCase.expected);
    // The same desktop again: an event or a poll that finds nothing new writes nothing.
    harness.workspace.activate(*harness.workspace.frontmost);
    harness.loop.advance(1.5);
    EXPECT_EQ(harness.linesAfter(startLines).size(), 1U);
  }
}

TEST(PresenceMonitorsTest, MeetingApplicationsFollowTheWorkspaceOrderAndEitherInFrontCounts) {
  static const struct {
    const char* desktop;
    std::vector<RunningApplication> running;
    std::optional<RunningApplication> frontmost;
    nlohmann::json meetingApp;
    nlohmann::json bundleId;
    bool inFront;
    nlohmann::json frontmostBundleId;
  } cases[] = {
      {"teams launched first", {kEditor, kTeams, kZoom}, kZoom, "teams", "com.microsoft.teams2", true, "us.zoom.xos"},
      {"zoom launched first", {kZoom, kTeams}, kTeams, "zoom", "us.zoom.xos", true, "com.microsoft.teams2"},
      {"meeting app behind", {kZoom, kFirefox}, kFirefox, "zoom", "us.zoom.xos", false, "org.mozilla.firefox"},
      {"front app without identity", {kNoIdentity}, kNoIdentity, nullptr, nullptr, false, nullptr},
      {"no front app", {kTeams}, std::nullopt, "teams", "com.microsoft.teams2", false, nullptr},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.desktop);
    PresenceHarness harness;
    harness.workspace.running = testCase.running;
    harness.workspace.frontmost = testCase.frontmost;
    harness.start();
    const auto line = harness.lines().at(harness.lines().size() - 2);
    EXPECT_EQ(line["meetingApp"], testCase.meetingApp);
    EXPECT_EQ(line["bundleId"], testCase.bundleId);
    EXPECT_EQ(line["frontmost"], testCase.inFront);
    EXPECT_EQ(line["frontmostBundleId"], testCase.frontmostBundleId);
  }
}

TEST(PresenceMonitorsTest, BrowsersLineRepeatsEveryTenMinutes) {
  PresenceHarness harness;
  harness.workspace.browserIds = {"org.mozilla.firefox"};
  harness.start();
  harness.loop.advance(599.9);
  EXPECT_EQ(harness.lines().size(), 2U);
  harness.workspace.browserIds.push_back("com.google.Chrome");
  harness.loop.advance(0.1);
  auto lines = harness.linesAfter(2);
  ASSERT_EQ(types(lines), nlohmann::json::array({"browsers"}));
  EXPECT_EQ(lines[0]["bundleIds"], nlohmann::json::array({"com.google.Chrome", "org.mozilla.firefox"}));
  harness.loop.advance(600);
  EXPECT_EQ(types(harness.linesAfter(2)), nlohmann::json::array({"browsers", "browsers"}));
}

TEST(PresenceMonitorsTest, TerminationSignalEndsWithStatusZeroAndNothingMoreWritten) {
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    PresenceHarness harness;
    harness.start();
    const std::size_t writes = harness.writes.size();
    ASSERT_TRUE(harness.signals.deliver(signal));
    EXPECT_EQ(harness.exitStatus, 0);
    EXPECT_EQ(harness.writes.size(), writes);
  }
}

}  // namespace
}  // namespace quillet::presence
