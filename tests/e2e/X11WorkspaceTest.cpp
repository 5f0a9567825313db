#include "platform/linux/x11/X11Workspace.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/identity/ProcessAppIdentity.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/PrivateXServer.h"
#include "tests/support/TemporaryDirectory.h"

// Last: Xlib's macros (None, Bool, Status) would otherwise rename parts of the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace quillet::platform::x11 {
namespace {

using test::ChildProcess;

// What a window manager does that the workspace reads: client windows carrying their owner's pid,
// the active window and the client list on the root.
class WindowManagerStandIn {
 public:
  explicit WindowManagerStandIn(const std::string& displayName) : display_(XOpenDisplay(displayName.c_str())) {
    if (display_ == nullptr) throw std::runtime_error("cannot open " + displayName);
    // Its windows outlive its connection, as a window manager's clients outlive the window manager.
    XSetCloseDownMode(display_, RetainPermanent);
  }
  ~WindowManagerStandIn() { XCloseDisplay(display_); }

  Window createWindow(std::optional<int> processId) {
    const Window window = XCreateSimpleWindow(display_, root(), 0, 0, 100, 100, 0, 0, 0);
    if (processId) {
      const long value = *processId;
      XChangeProperty(display_, window, atom("_NET_WM_PID"), XA_CARDINAL, 32, PropModeReplace,
                      reinterpret_cast<const unsigned char*>(&value), 1);
    }
    XSync(display_, False);
    return window;
  }

  void destroyWindow(Window window) {
    XDestroyWindow(display_, window);
    XSync(display_, False);
  }

  void activate(Window window) { setRootWindows("_NET_ACTIVE_WINDOW", {window}); }

  void listClients(const std::vector<Window>& windows) { setRootWindows("_NET_CLIENT_LIST", windows); }

 private:
  Window root() const { return DefaultRootWindow(display_); }
  Atom atom(const char* name) const { return XInternAtom(display_, name, False); }

  void setRootWindows(const char* property, const std::vector<Window>& windows) {
    const std::vector<long> values(windows.begin(), windows.end());
    XChangeProperty(display_, root(), atom(property), XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values.data()), int(values.size()));
    XSync(display_, False);
  }

  Display* display_;
};

// Programs named like well-known applications: copies of sleep, so that /proc shows their names.
class NamedPrograms {
 public:
  std::unique_ptr<ChildProcess> start(const std::string& name) {
    const auto program = folder_.path() / name;
    if (!std::filesystem::exists(program)) std::filesystem::copy_file(ChildProcess::pathOf("sleep"), program);
    return std::make_unique<ChildProcess>(program.string(), std::vector<std::string>{"60"}, ChildProcess::Environment{},
                                          std::vector<std::string>{"GIO_LAUNCHED_DESKTOP_FILE"},
                                          ChildProcess::StandardOutput::discarded);
  }

 private:
  test::TemporaryDirectory folder_;
};

struct ObservedEvent {
  WorkspaceEvent event;
  RunningApplication application;
};

class X11WorkspaceTest : public ::testing::Test {
 protected:
  X11WorkspaceTest() : windowManager_(std::make_unique<WindowManagerStandIn>(server_.displayName())) {}
  ~X11WorkspaceTest() override {
    for (const int socket : reservedSockets_) {
      if (socket >= 0) ::close(socket);
    }
    for (const auto& path : reservedPaths_) std::filesystem::remove(path);
  }

  // Takes display `number` with sockets at its two addresses that never listen, so clients are refused
  // and no X server can start there; false when something already holds either address.
  bool reserveDisplay(int number) {
    const std::string socketPath = "/tmp/.X11-unix/X" + std::to_string(number);
    const int abstractSocket = boundSocket(std::string(1, '\0') + socketPath);
    if (abstractSocket < 0) return false;
    const int fileSocket = boundSocket(socketPath);
    reservedSockets_.push_back(abstractSocket);
    if (fileSocket < 0) return false;
    reservedSockets_.push_back(fileSocket);
    reservedPaths_.push_back(socketPath);
    return true;
  }

  // A display name that no server answers, held for the whole test.
  std::string refusingDisplay() {
    for (int number = 400; number < 1000; ++number) {
      if (reserveDisplay(number)) return ":" + std::to_string(number);
    }
    ADD_FAILURE() << "no free display number to reserve";
    return ":999";
  }

  // A Unix socket bound to `address` (a leading NUL names an abstract one), or -1.
  static int boundSocket(const std::string& address) {
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    std::memcpy(name.sun_path, address.data(), std::min(address.size(), sizeof name.sun_path - 1));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + address.size());
    if (descriptor >= 0 && ::bind(descriptor, reinterpret_cast<sockaddr*>(&name), length) != 0) {
      ::close(descriptor);
      return -1;
    }
    return descriptor;
  }

  // Before the server goes: Xlib ends a program whose connection is lost, and this one's is not ours to protect.
  void stopServer() {
    const std::string number = server_.displayName().substr(1);
    windowManager_.reset();
    server_.stop();
    // Another test's X server would take the freed number at once and answer in this one's place. Sockets
    // bound at the display's two addresses but never listening keep the number taken and refuse clients.
    reserveDisplay(std::stoi(number));
  }

  std::unique_ptr<X11Workspace> makeWorkspace(const std::string& displayName) {
    auto workspace = std::make_unique<X11Workspace>(loop_, identity_, displayName);
    workspace->addObserver([this](WorkspaceEvent event, const RunningApplication& application) {
      events_.push_back({event, application});
    });
    return workspace;
  }

  bool waitForEvent(WorkspaceEvent event, const RunningApplication& application) {
    return loop_.runUntil([&] { return hasEvent(event, application); }, std::chrono::seconds(10));
  }

  [[nodiscard]] bool hasEvent(WorkspaceEvent event, const RunningApplication& application) const {
    return std::any_of(events_.begin(), events_.end(), [&](const ObservedEvent& observed) {
      return observed.event == event && observed.application == application;
    });
  }

  [[nodiscard]] std::size_t activationCount() const {
    return std::size_t(std::count_if(events_.begin(), events_.end(),
                                     [](const ObservedEvent& observed) { return observed.event == WorkspaceEvent::activated; }));
  }

  test::PrivateXServer server_;
  std::unique_ptr<WindowManagerStandIn> windowManager_;
  std::vector<int> reservedSockets_;
  std::vector<std::filesystem::path> reservedPaths_;
  fake::VirtualMainLoop loop_;
  identity::ProcessAppIdentity identity_;
  NamedPrograms programs_;
  std::vector<ObservedEvent> events_;
};

TEST_F(X11WorkspaceTest, TheFrontApplicationIsTheProcessBehindTheActiveWindowAndItsActivationIsReported) {
  const auto zoom = programs_.start("zoom");
  const auto firefox = programs_.start("firefox");
  const Window zoomWindow = windowManager_->createWindow(zoom->pid());
  const Window firefoxWindow = windowManager_->createWindow(firefox->pid());
  const Window secondFirefoxWindow = windowManager_->createWindow(firefox->pid());
  windowManager_->activate(zoomWindow);
  const auto workspace = makeWorkspace(server_.displayName());
  const RunningApplication zoomApplication{zoom->pid(), "us.zoom.xos"};
  const RunningApplication firefoxApplication{firefox->pid(), "org.mozilla.firefox"};

  EXPECT_EQ(workspace->frontmostApplication(), zoomApplication);

  windowManager_->activate(firefoxWindow);
  ASSERT_TRUE(waitForEvent(WorkspaceEvent::activated, firefoxApplication));
  EXPECT_EQ(workspace->frontmostApplication(), firefoxApplication);

  // Another window of the same application is no new activation; going back to Zoom is.
  windowManager_->activate(secondFirefoxWindow);
  windowManager_->activate(zoomWindow);
  ASSERT_TRUE(waitForEvent(WorkspaceEvent::activated, zoomApplication));
  EXPECT_EQ(activationCount(), 2u);
}

TEST_F(X11WorkspaceTest, NoFrontApplicationWithoutAnActiveWindowWithAProcess) {
  const auto zoom = programs_.start("zoom");
  const auto workspace = makeWorkspace(server_.displayName());
  const Window windowWithoutProcess = windowManager_->createWindow(std::nullopt);
  const Window closedWindow = windowManager_->createWindow(zoom->pid());
  windowManager_->destroyWindow(closedWindow);

  const struct {
    const char* description;
    Window activeWindow;
  } cases[] = {
      {"no active window", None},
      {"a window that does not name its process", windowWithoutProcess},
      {"a window closed since it was activated", closedWindow},
  };
  for (const auto& testCase : cases) {
    windowManager_->activate(testCase.activeWindow);
    EXPECT_EQ(workspace->frontmostApplication(), std::nullopt) << testCase.description;
  }
  // The activation events of those windows arrive and are no activations either.
  windowManager_->activate(windowManager_->createWindow(zoom->pid()));
  ASSERT_TRUE(waitForEvent(WorkspaceEvent::activated, {zoom->pid(), "us.zoom.xos"}));
  EXPECT_EQ(activationCount(), 1u);
}

TEST_F(X11WorkspaceTest, LaunchesAndTerminationsAreFoundWhenTheWindowListChanges) {
  const auto firefox = programs_.start("firefox");
  const auto workspace = makeWorkspace(server_.displayName());
  auto slack = programs_.start("slack");
  const RunningApplication slackApplication{slack->pid(), "com.tinyspeck.slackmacgap"};

  // Virtual time stands still: only the window list's change can have started the listing.
  windowManager_->listClients({windowManager_->createWindow(slack->pid())});
  ASSERT_TRUE(waitForEvent(WorkspaceEvent::launched, slackApplication));

  const auto running = workspace->runningApplications();
  const auto firefoxPosition = std::find(running.begin(), running.end(), RunningApplication{firefox->pid(), "org.mozilla.firefox"});
  const auto slackPosition = std::find(running.begin(), running.end(), slackApplication);
  ASSERT_NE(firefoxPosition, running.end());
  ASSERT_NE(slackPosition, running.end());
  EXPECT_LT(firefoxPosition, slackPosition) << "oldest first";
  EXPECT_TRUE(std::any_of(running.begin(), running.end(),
                          [](const RunningApplication& application) { return application.processId == ::getpid(); }));

  slack->sendSignal(SIGKILL);
  ASSERT_TRUE(slack->waitForExit());
  windowManager_->listClients({});
  ASSERT_TRUE(waitForEvent(WorkspaceEvent::terminated, slackApplication));
}

TEST_F(X11WorkspaceTest, ThePeriodicListingFindsLaunchesWithoutAnyWindow) {
  const auto workspace = makeWorkspace(server_.displayName());
  const auto zoom = programs_.start("zoom");
  loop_.advance(X11Workspace::rescanIntervalSeconds);
  EXPECT_TRUE(hasEvent(WorkspaceEvent::launched, {zoom->pid(), "us.zoom.xos"}));
}

TEST_F(X11WorkspaceTest, WithoutADisplayEverythingButTheFrontApplicationWorks) {
  const auto zoom = programs_.start("zoom");
  const auto workspace = makeWorkspace(refusingDisplay());
  EXPECT_FALSE(workspace->hasDisplay());
  EXPECT_EQ(workspace->frontmostApplication(), std::nullopt);
  const auto running = workspace->runningApplications();
  EXPECT_NE(std::find(running.begin(), running.end(), RunningApplication{zoom->pid(), "us.zoom.xos"}), running.end());
}

TEST_F(X11WorkspaceTest, LosingTheServerLeavesTheProgramRunningWithoutAFrontApplication) {
  const auto zoom = programs_.start("zoom");
  windowManager_->activate(windowManager_->createWindow(zoom->pid()));
  const auto workspace = makeWorkspace(server_.displayName());
  ASSERT_EQ(workspace->frontmostApplication(), (RunningApplication{zoom->pid(), "us.zoom.xos"}));
  stopServer();
  EXPECT_EQ(workspace->frontmostApplication(), std::nullopt);
  EXPECT_FALSE(workspace->runningApplications().empty());
}

TEST(X11WorkspaceBrowsersTest, BrowsersAreTheHttpsHandlersUnderTheIdentifiersTheBehaviourUses) {
  test::TemporaryDirectory data;
  std::filesystem::create_directories(data.path() / "applications");
  const std::string handler = "[Desktop Entry]\nType=Application\nMimeType=x-scheme-handler/https;\n";
  test::writeFile(data.path() / "applications/firefox-esr.desktop", handler);
  test::writeFile(data.path() / "applications/google-chrome.desktop", handler);
  test::writeFile(data.path() / "applications/chromium.desktop", handler);
  test::writeFile(data.path() / "applications/org.qutebrowser.qutebrowser.desktop", handler);
  const std::map<std::string, std::string> environment{{"XDG_DATA_HOME", data.path().string()},
                                                       {"XDG_DATA_DIRS", (data.path() / "none").string()}};
  fake::VirtualMainLoop loop;
  identity::ProcessAppIdentity identity;
  X11Workspace workspace(loop, identity, ":none", xdg::DesktopApplications([&](const char* name) -> std::optional<std::string> {
    const auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return found->second;
  }));
  EXPECT_EQ(workspace.browsers(),
            (std::vector<std::string>{"com.google.Chrome", "org.mozilla.firefox", "org.qutebrowser.qutebrowser"}));
}

}  // namespace
}  // namespace quillet::platform::x11
