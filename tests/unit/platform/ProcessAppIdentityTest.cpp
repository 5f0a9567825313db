#include "platform/linux/identity/ProcessAppIdentity.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/ChildProcess.h"
#include "tests/support/FakeProcessFolder.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::platform::identity {
namespace {

using test::FakeProcessFolder;

constexpr int processId = 4242;
const std::string userUnits = "0::/user.slice/user-1000.slice/user@1000.service/app.slice/";

std::string launchedBy(const std::string& desktopFile, int launchedProcessId) {
  using namespace std::string_literals;
  return "HOME=/home/u\0GIO_LAUNCHED_DESKTOP_FILE="s + desktopFile + "\0GIO_LAUNCHED_DESKTOP_FILE_PID="s +
         std::to_string(launchedProcessId) + "\0LANG=C\0"s;
}

TEST(ProcessAppIdentityTest, TheFirstNameTheTableKnowsWinsElseTheMostSpecificOwnName) {
  const struct {
    const char* description;
    FakeProcessFolder::Process process;
    std::optional<std::string> bundleId;
  } cases[] = {
      {"executable", {.executable = "/usr/lib/firefox-esr/firefox-esr"}, "org.mozilla.firefox"},
      {"executable replaced by an update", {.executable = "/opt/zoom/zoom (deleted)"}, "us.zoom.xos"},
      {"command name when the executable is hidden", {.command = "slack\n"}, "com.tinyspeck.slackmacgap"},
      {"flatpak scope beats the executable",
       {.cgroup = userUnits + "app-flatpak-us.zoom.Zoom-1234.scope\n", .executable = "/app/bin/chrome"},
       "us.zoom.xos"},
      {"flatpak info file when the scope does not say",
       {.cgroup = userUnits + "vte-spawn-1c2d.scope\n",
        .executable = "/app/bin/chrome",
        .flatpakInfo = "[Instance]\nname=x\n[Application]\nname=com.slack.Slack\nruntime=r\n"},
       "com.tinyspeck.slackmacgap"},
      {"unknown flatpak keeps its id", {.cgroup = userUnits + "app-flatpak-org.example.Notes-77.scope\n",
                                        .executable = "/app/bin/chrome"},
       "org.example.Notes"},
      {"snap beats the executable",
       {.cgroup = userUnits + "snap.zoom-client.zoom-client-7a1e3a22-1b7f-4f0e.scope\n", .executable = "/usr/bin/bash"},
       "us.zoom.xos"},
      {"unknown snap keeps its name", {.cgroup = userUnits + "snap.my-notes.my-notes-1b7f.scope\n",
                                       .executable = "/snap/my-notes/3/electron"},
       "my-notes"},
      {"desktop file the launcher recorded for this process",
       {.environment = launchedBy("/usr/share/applications/code.desktop", processId),
        .executable = "/usr/lib/electron/electron"},
       "com.microsoft.VSCode"},
      {"snap desktop file",
       {.environment = launchedBy("/var/lib/snapd/desktop/applications/firefox_firefox.desktop", processId),
        .executable = "/snap/firefox/1/usr/lib/firefox/launcher"},
       "org.mozilla.firefox"},
      {"desktop file of the application that started it yields to the executable",
       {.environment = launchedBy("/usr/share/applications/firefox.desktop", 17), .executable = "/opt/zoom/zoom"},
       "us.zoom.xos"},
      {"desktop file of the application that started it when the executable is unknown",
       {.environment = launchedBy("/usr/share/applications/firefox.desktop", 17), .executable = "/usr/bin/python3"},
       "org.mozilla.firefox"},
      {"own desktop file, unknown, beats the executable",
       {.environment = launchedBy("/usr/share/applications/kde4/notes.desktop", processId),
        .executable = "/usr/bin/notes-bin"},
       "kde4-notes"},
      {"GNOME scope naming this process",
       {.cgroup = userUnits + "app-gnome-code-" + std::to_string(processId) + ".scope\n",
        .executable = "/usr/lib/electron/electron"},
       "com.microsoft.VSCode"},
      {"escaped dash in a scope",
       {.cgroup = userUnits + "app-gnome-google\\x2dchrome-" + std::to_string(processId) + ".scope\n",
        .executable = "/usr/bin/bash"},
       "com.google.Chrome"},
      {"unknown application launched into a scope of its own",
       {.cgroup = userUnits + "app-gnome-org.gnome.Calculator-" + std::to_string(processId) + ".scope\n",
        .executable = "/usr/bin/gnome-calculator"},
       "org.gnome.Calculator"},
      {"scope of the application that started it yields to the executable",
       {.cgroup = userUnits + "app-gnome-firefox-999.scope\n", .executable = "/opt/zoom/zoom"}, "us.zoom.xos"},
      {"service of a launcher without a name of its own",
       {.cgroup = userUnits + "app-teams\\x2dfor\\x2dlinux@0f3a9b.service\n", .executable = "/usr/lib/electron/electron"},
       "com.microsoft.teams2"},
      {"unescaped dashes in a service name",
       {.cgroup = userUnits + "app-gnome-teams-for-linux@0f3a9b.service\n", .executable = "/usr/bin/bash"},
       "com.microsoft.teams2"},
      {"control-group version 1 lines",
       {.cgroup = "12:pids:/user.slice\n1:name=systemd:/user.slice/user-1000.slice/user@1000.service/"
                  "app-flatpak-com.slack.Slack-55.scope\n0::/\n",
        .executable = "/app/slack"},
       "com.tinyspeck.slackmacgap"},
      {"malformed units are ignored",
       {.cgroup = "garbage\n0::\n0::/app-.scope\n0::/app-flatpak--12.scope\n0::/snap..x.scope\n0::/app-\\x\n",
        .executable = "/usr/bin/zoom"},
       "us.zoom.xos"},
      {"malformed environment is ignored",
       {.environment = std::string("GIO_LAUNCHED_DESKTOP_FILE\0=\0\0", 30), .executable = "/usr/bin/slack"},
       "com.tinyspeck.slackmacgap"},
      {"names with control characters are not ids", {.command = std::string("evil\x01name\n")}, std::nullopt},
      {"nothing readable", {}, std::nullopt},
  };
  for (const auto& testCase : cases) {
    FakeProcessFolder processes;
    processes.add(processId, testCase.process);
    ProcessAppIdentity identity(processes.root());
    EXPECT_EQ(identity.bundleIdOfProcess(processId), testCase.bundleId) << testCase.description;
  }
}

TEST(ProcessAppIdentityTest, AProcessThatIsGoneHasNoIdentity) {
  FakeProcessFolder processes;
  processes.add(processId, {.executable = "/usr/bin/firefox"});
  ProcessAppIdentity identity(processes.root());
  EXPECT_EQ(identity.bundleIdOfProcess(processId + 1), std::nullopt);
  EXPECT_EQ(identity.bundleIdOfProcess(0), std::nullopt);
  EXPECT_EQ(identity.bundleIdOfProcess(-1), std::nullopt);
  processes.remove(processId);
  EXPECT_EQ(identity.bundleIdOfProcess(processId), std::nullopt);
}

TEST(ProcessAppIdentityTest, CandidatesComeInPrecedenceOrderWithoutRepeats) {
  FakeProcessFolder processes;
  processes.add(processId, {.cgroup = userUnits + "app-flatpak-org.example.Notes-" + std::to_string(processId) + ".scope\n",
                            .environment = launchedBy("/usr/share/applications/notes.desktop", 17),
                            .executable = "/app/bin/notes",
                            .command = "notes\n"});
  ProcessAppIdentity identity(processes.root());
  EXPECT_EQ(identity.candidateNames(processId), (std::vector<std::string>{"org.example.Notes", "notes", "notes.desktop"}));
}

// Real processes: one whose executable is named like a known application, and one its launcher recorded.
TEST(ProcessAppIdentityTest, RealProcessesAreIdentifiedFromProc) {
  test::TemporaryDirectory folder;
  const auto zoom = folder.path() / "zoom";
  std::filesystem::copy_file(test::ChildProcess::pathOf("sleep"), zoom);
  ProcessAppIdentity identity;
  EXPECT_EQ(identity.ownProcessId(), ::getpid());
  {
    test::ChildProcess child(zoom.string(), {"30"}, {}, {"GIO_LAUNCHED_DESKTOP_FILE", "GIO_LAUNCHED_DESKTOP_FILE_PID"},
                             test::ChildProcess::StandardOutput::discarded);
    EXPECT_EQ(identity.bundleIdOfProcess(child.pid()), "us.zoom.xos");
  }
  {
    test::ChildProcess launched(
        test::ChildProcess::pathOf("sh"),
        {"-c", "GIO_LAUNCHED_DESKTOP_FILE_PID=$$ exec sleep 30"},
        {{"GIO_LAUNCHED_DESKTOP_FILE", "/usr/share/applications/org.example.Notes.desktop"}},
        {"GIO_LAUNCHED_DESKTOP_FILE_PID"}, test::ChildProcess::StandardOutput::discarded);
    // The shell's own environment does not name it as the launched process; once it has replaced
    // itself with sleep, the launcher's record is about this very process and beats "sleep".
    std::optional<std::string> bundleId;
    for (int attempt = 0; attempt < 200 && bundleId != "org.example.Notes"; ++attempt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      bundleId = identity.bundleIdOfProcess(launched.pid());
    }
    EXPECT_EQ(bundleId, "org.example.Notes");
    const int endedProcessId = launched.pid();
    launched.sendSignal(SIGKILL);
    ASSERT_TRUE(launched.waitForExit());
    EXPECT_EQ(identity.bundleIdOfProcess(endedProcessId), std::nullopt);
  }
}

}  // namespace
}  // namespace quillet::platform::identity
