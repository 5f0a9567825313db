#include "quillet-presence/PresenceState.h"

#include <gtest/gtest.h>

#include <chrono>

#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/VirtualMainLoop.h"

namespace quillet::presence {
namespace {

using namespace std::chrono_literals;

// 2026-12-10 08:00:00.000 UTC, plus a fraction that must be truncated, not rounded.
const auto kWallStart = std::chrono::system_clock::time_point(1'796'889'600'000ms);

struct StateFixture {
  platform::fake::VirtualMainLoop clock{kWallStart};
  platform::fake::FakeWorkspace workspace{clock};
  std::vector<std::string> writes;
  PresenceState state{clock, workspace, [this](std::string_view bytes) { writes.emplace_back(bytes); }};
};

TEST(PresenceStateTest, PresenceLineCarriesTheTenMembersWithNullsEscapedSlashesAndTruncatedMilliseconds) {
  StateFixture fixture;
  fixture.clock.advance(1.2349);
  fixture.state.micActive = true;
  fixture.state.meetingApp = "zoom";
  fixture.state.bundleId = "us.zoom.xos";
  fixture.state.frontmostBundleId = "app/with/slashes";
  fixture.state.micApps = {"a", "b"};
  fixture.state.emit();

  // The line and its line feed go out as two writes.
  ASSERT_EQ(fixture.writes.size(), 2U);
  EXPECT_EQ(fixture.writes[1], "\n");
  const std::string& text = fixture.writes[0];
  EXPECT_NE(text.find(R"("frontmostBundleId":"app\/with\/slashes")"), std::string::npos) << text;
  EXPECT_EQ(text.find(' '), std::string::npos) << "not compact: " << text;

  const auto line = nlohmann::json::parse(text);
  EXPECT_EQ(line.size(), 10U);
  EXPECT_EQ(line["type"], "presence");
  EXPECT_EQ(line["micActive"], true);
  EXPECT_EQ(line["incomingAudio"], false);
  EXPECT_EQ(line["meetingApp"], "zoom");
  EXPECT_EQ(line["bundleId"], "us.zoom.xos");
  EXPECT_EQ(line["frontmost"], false);
  EXPECT_EQ(line["frontmostBundleId"], "app/with/slashes");
  EXPECT_EQ(line["micApps"], nlohmann::json::array({"a", "b"}));
  EXPECT_TRUE(line["outputApps"].is_array());
  EXPECT_TRUE(line["outputApps"].empty());
  ASSERT_TRUE(line["ts"].is_number_integer());
  EXPECT_EQ(line["ts"].get<long long>(), 1'796'889'601'234LL);

  fixture.writes.clear();
  fixture.state.meetingApp.reset();
  fixture.state.bundleId.reset();
  fixture.state.frontmostBundleId.reset();
  fixture.state.emit();
  const auto absent = nlohmann::json::parse(fixture.writes.at(0));
  EXPECT_TRUE(absent["meetingApp"].is_null());
  EXPECT_TRUE(absent["bundleId"].is_null());
  EXPECT_TRUE(absent["frontmostBundleId"].is_null());
}

TEST(PresenceStateTest, BrowsersLineListsEachIdentifierOnceSortedWithoutEmptyOnes) {
  StateFixture fixture;
  fixture.workspace.browserIds = {"org.mozilla.firefox", "com.google.Chrome", "", "org.mozilla.firefox", "Zed"};
  fixture.state.emitBrowsers();
  ASSERT_EQ(fixture.writes.size(), 2U);
  const auto line = nlohmann::json::parse(fixture.writes[0]);
  EXPECT_EQ(line.size(), 3U);
  EXPECT_EQ(line["type"], "browsers");
  // Plain byte order: upper case sorts before lower case.
  EXPECT_EQ(line["bundleIds"], nlohmann::json::array({"Zed", "com.google.Chrome", "org.mozilla.firefox"}));
  EXPECT_EQ(line["ts"].get<long long>(), 1'796'889'600'000LL);
}

TEST(PresenceStateTest, LineThatCannotBeSerialisedIsLostAloneAndTheNextOneIsWhole) {
  StateFixture fixture;
  fixture.state.frontmostBundleId = std::string("bad\xFF");
  fixture.state.emit();
  EXPECT_TRUE(fixture.writes.empty());

  fixture.state.frontmostBundleId = "good";
  fixture.state.emit();
  ASSERT_EQ(fixture.writes.size(), 2U);
  EXPECT_EQ(nlohmann::json::parse(fixture.writes[0])["frontmostBundleId"], "good");
}

}  // namespace
}  // namespace quillet::presence
