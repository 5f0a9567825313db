#include "platform/linux/proc/RunningProcessList.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/fake/FakeAppIdentity.h"
#include "tests/support/FakeProcessFolder.h"

namespace quillet::platform::proc {
namespace {

using test::FakeProcessFolder;

class RunningProcessListTest : public ::testing::Test {
 protected:
  RunningProcessList makeList(uid_t owner = ::getuid()) {
    return RunningProcessList(identity_, ProcessDirectory(processes_.root()), owner);
  }

  FakeProcessFolder processes_;
  fake::FakeAppIdentity identity_;
};

TEST_F(RunningProcessListTest, ListsTheOwnersProcessesOldestFirstWithoutKernelThreads) {
  processes_.add(30, {.startTime = 500});
  processes_.add(10, {.startTime = 900});
  processes_.add(20, {.startTime = 500});
  processes_.add(2, {.startTime = 1, .isKernelThread = true});
  identity_.bundleIds = {{10, "us.zoom.xos"}, {20, "org.mozilla.firefox"}};
  auto list = makeList();

  const auto changes = list.refresh();

  const std::vector<RunningApplication> expected{{20, "org.mozilla.firefox"}, {30, std::nullopt}, {10, "us.zoom.xos"}};
  EXPECT_EQ(list.applications(), expected);
  EXPECT_EQ(changes.launched.size(), 3u);
  EXPECT_TRUE(changes.terminated.empty());
}

TEST_F(RunningProcessListTest, OtherUsersProcessesAreLeftOut) {
  processes_.add(10, {});
  auto list = makeList(::getuid() + 1);
  EXPECT_TRUE(list.refresh().launched.empty());
  EXPECT_TRUE(list.applications().empty());
}

TEST_F(RunningProcessListTest, RefreshReportsLaunchesAndTerminationsSinceTheLastOne) {
  processes_.add(10, {.startTime = 100});
  identity_.bundleIds = {{10, "org.mozilla.firefox"}, {11, "us.zoom.xos"}};
  auto list = makeList();
  list.refresh();

  const auto quiet = list.refresh();
  EXPECT_TRUE(quiet.launched.empty());
  EXPECT_TRUE(quiet.terminated.empty());

  processes_.add(11, {.startTime = 200});
  const auto launch = list.refresh();
  EXPECT_EQ(launch.launched, (std::vector<RunningApplication>{{11, "us.zoom.xos"}}));
  EXPECT_TRUE(launch.terminated.empty());

  processes_.remove(10);
  const auto termination = list.refresh();
  EXPECT_TRUE(termination.launched.empty());
  EXPECT_EQ(termination.terminated, (std::vector<RunningApplication>{{10, "org.mozilla.firefox"}}));
  EXPECT_EQ(list.applications(), (std::vector<RunningApplication>{{11, "us.zoom.xos"}}));
}

// A launcher script first shows up as a shell and becomes the program under the same pid.
TEST_F(RunningProcessListTest, AnIdentityThatChangedByTheNextRefreshIsAnnouncedOnce) {
  processes_.add(10, {});
  identity_.bundleIds = {{10, "bash"}};
  auto list = makeList();
  list.refresh();

  identity_.bundleIds = {{10, "us.zoom.xos"}};
  EXPECT_EQ(list.refresh().launched, (std::vector<RunningApplication>{{10, "us.zoom.xos"}}));
  EXPECT_EQ(list.applications(), (std::vector<RunningApplication>{{10, "us.zoom.xos"}}));

  identity_.bundleIds = {{10, "org.mozilla.firefox"}};
  EXPECT_TRUE(list.refresh().launched.empty());
}

TEST_F(RunningProcessListTest, ProcessesWithUnreadableStatusAreSkippedUntilReadable) {
  processes_.add(10, {});
  std::filesystem::remove(processes_.root() / "10/stat");
  test::writeFile(processes_.root() / "11", "not a folder");
  std::filesystem::create_directories(processes_.root() / "12");
  test::writeFile(processes_.root() / "12/stat", "12 (truncated");
  std::filesystem::create_directories(processes_.root() / "self");
  auto list = makeList();
  EXPECT_TRUE(list.refresh().launched.empty());

  processes_.add(10, {});
  EXPECT_EQ(list.refresh().launched, (std::vector<RunningApplication>{{10, std::nullopt}}));
}

}  // namespace
}  // namespace quillet::platform::proc
