#include "quillet-dictate/accessibility/AccessibilityMonitor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake/FakeAppIdentity.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/FakeTextLayout.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/x11/X11GlobalClickMonitor.h"
#include "tests/support/AccessibilityBus.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/GtkTestApplication.h"
#include "tests/support/RunLoopUntil.h"
#include "tests/support/TemporaryDirectory.h"

// Last: Xlib's macros (Status, Bool, None) break Qt's and others' headers.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace quillet::dictate {
namespace {

using platform::AccessibilityElement;
using platform::ScreenRect;
using test::AccessibilityBus;
using test::ChildProcess;

constexpr double kScreenHeight = 480;  // the private X server's screen is 640x480

// The GTK fields application, with focus moved through its command pipe.
class FieldsApplication : public test::GtkTestApplication {
 public:
  FieldsApplication(const AccessibilityBus& bus, const std::filesystem::path& folder)
      : GtkTestApplication(bus, folder, "fields-app.py") {}
};

QCoreApplication& qtApplication() {
  static int argc = 1;
  static char name[] = "quillet_e2e_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication application(argc, argv);
  return application;
}

// libatspi reads the desktop's environment once, when it first connects.
void useDesktopEnvironment(const AccessibilityBus& bus) {
  for (const auto& [name, value] : bus.environment()) ::setenv(name.c_str(), value.c_str(), 1);
  for (const auto& name : AccessibilityBus::removedVariables()) ::unsetenv(name.c_str());
}

// One private desktop for the suite, with the monitor on the real accessibility service and clicks.
struct MonitorDesktop {
  MonitorDesktop() { useDesktopEnvironment(bus); }

  test::TemporaryDirectory folder;
  AccessibilityBus bus;
  FieldsApplication application{bus, folder.path()};
  platform::qt::QtMainLoop loop;
  platform::atspi::AtspiAccessibility accessibility{loop};
  platform::fake::FakeWorkspace workspace{loop};
  platform::fake::FakeAppIdentity identity;
  platform::fake::FakeScreens screens;
  platform::fake::FakeTextLayout layout;
  test::CapturedLog captured;
  VxLog log{folder.path() / "focus.log", clock(), captured.mirror()};
  FieldGeometry geometry{{accessibility, identity, screens, layout, nullptr, log}};

  static const platform::Clock& clock();
};

class SteadyClock final : public platform::Clock {
 public:
  std::chrono::nanoseconds monotonicNow() const override { return std::chrono::steady_clock::now().time_since_epoch(); }
  std::chrono::system_clock::time_point wallNow() const override { return std::chrono::system_clock::now(); }
};

const platform::Clock& MonitorDesktop::clock() {
  static SteadyClock steady;
  return steady;
}

class AccessibilityMonitorDesktopTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qtApplication();
    desktop_ = new MonitorDesktop();
  }

  static void TearDownTestSuite() {
    delete desktop_;
    desktop_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(desktop_, nullptr);
    auto& d = *desktop_;
    ASSERT_TRUE(runUntil([&] { return d.accessibility.isTrusted(); }));
    ASSERT_TRUE(runUntil([&] { return !d.accessibility.applicationElement(d.application.processId()).isNone(); }));
    d.identity.ownProcess = static_cast<int>(::getpid());
    d.identity.bundleIds[d.application.processId()] = "org.example.fields";
    d.screens.attached = {{.frame = {0, 0, 640, kScreenHeight}, .visibleFrame = {0, 0, 640, kScreenHeight}}};
    d.workspace.frontmost = platform::RunningApplication{d.application.processId(), "org.example.fields"};
  }

  // Runs the Qt loop until `condition` holds or a generous time has passed.
  static bool runUntil(const std::function<bool()>& condition, double seconds = 20) {
    return test::runLoopUntil(desktop_->loop, condition, seconds);
  }

  // Lets the loop run for `seconds` whatever happens.
  static void runFor(double seconds) {
    bool over = false;
    auto timer = desktop_->loop.after(seconds, [&] { over = true; });
    runUntil([&] { return over; }, seconds + 5);
  }

  std::shared_ptr<AccessibilityMonitor> startMonitor() {
    auto& d = *desktop_;
    // A click monitor serves one owner; each test's monitor gets its own.
    clicks = std::make_unique<platform::x11::X11GlobalClickMonitor>(d.loop, d.bus.displayName());
    auto monitor = AccessibilityMonitor::create(
        {d.accessibility, d.workspace, d.identity, d.loop, MonitorDesktop::clock(), d.screens, *clicks, d.log, d.geometry});
    monitor->onFieldFocused = [this](const AccessibilityElement& element, const ScreenRect& frame) {
      focused.push_back({element, frame});
    };
    monitor->onFieldLost = [this] { ++lost; };
    monitor->start();
    return monitor;
  }

  std::string roleOf(const AccessibilityElement& element) {
    return desktop_->accessibility.typedAttribute<std::string>(element, platform::AXAttribute::role).value_or("?");
  }
  std::string subroleOf(const AccessibilityElement& element) {
    return desktop_->accessibility.typedAttribute<std::string>(element, platform::AXAttribute::subrole).value_or("-");
  }

  static inline MonitorDesktop* desktop_ = nullptr;
  std::unique_ptr<platform::x11::X11GlobalClickMonitor> clicks;
  std::vector<std::pair<AccessibilityElement, ScreenRect>> focused;
  int lost = 0;
};

TEST_F(AccessibilityMonitorDesktopTest, ReportsTheEntryWhenItGetsFocusAndNeverThePasswordEntry) {
  auto& d = *desktop_;
  ASSERT_TRUE(d.application.run("focus label"));
  const auto monitor = startMonitor();

  ASSERT_TRUE(d.application.run("focus entry"));
  ASSERT_TRUE(runUntil([&] { return !focused.empty(); }));
  const auto [entry, entryFrame] = focused.back();
  EXPECT_EQ(roleOf(entry), "AXTextField");
  EXPECT_EQ(subroleOf(entry), "-");
  EXPECT_EQ(monitor->currentElement(), entry);
  EXPECT_EQ(monitor->currentBundleID(), "org.example.fields");
  EXPECT_EQ(monitor->textOf(entry), "");
  // The window sits at 40,60 from the top-left: in bottom-left coordinates the entry lies in the upper part.
  EXPECT_GE(entryFrame.minX(), 40);
  EXPECT_GT(entryFrame.width, 140);
  EXPECT_GT(entryFrame.minY(), kScreenHeight / 2);
  EXPECT_LE(entryFrame.maxY(), kScreenHeight - 60);

  const std::size_t reportsBefore = focused.size();
  ASSERT_TRUE(d.application.run("focus password"));
  ASSERT_TRUE(runUntil([&] { return lost > 0; }));
  runFor(0.3);
  EXPECT_EQ(focused.size(), reportsBefore) << "the password entry is never reported";
  EXPECT_TRUE(monitor->currentElement().isNone());
  EXPECT_TRUE(d.captured.contains("❌ No editable target found. Detaching badge."));

  ASSERT_TRUE(d.application.run("focus textview"));
  ASSERT_TRUE(runUntil([&] { return focused.size() > reportsBefore; }));
  EXPECT_EQ(roleOf(focused.back().first), "AXTextArea");
  for (const auto& report : focused) EXPECT_NE(subroleOf(report.first), "AXSecureTextField");
}

TEST_F(AccessibilityMonitorDesktopTest, AClickOnTheDesktopMakesTheMonitorLookAtTheFocusAgain) {
  auto& d = *desktop_;
  ASSERT_TRUE(d.application.run("focus entry"));
  const auto monitor = startMonitor();
  ASSERT_TRUE(runUntil([&] { return !focused.empty() && roleOf(focused.back().first) == "AXTextField"; }))
      << "the focused entry is reported at start";
  runFor(0.3);
  const std::size_t reportsBefore = focused.size();
  const auto entry = focused.back().first;

  Display* display = XOpenDisplay(d.bus.displayName().c_str());
  ASSERT_NE(display, nullptr);
  // On the bare desktop beside the window, so that the click itself moves no focus.
  XTestFakeMotionEvent(display, 0, 620, 460, CurrentTime);
  XTestFakeButtonEvent(display, 1, True, CurrentTime);
  XTestFakeButtonEvent(display, 1, False, CurrentTime);
  XFlush(display);
  // Each press and release probes twice; every probe finds the entry still focused.
  EXPECT_TRUE(runUntil([&] { return focused.size() >= reportsBefore + 2; }, 10));
  XCloseDisplay(display);
  EXPECT_EQ(focused.back().first, entry);
}

TEST_F(AccessibilityMonitorDesktopTest, TheClickMonitorTellsLeftAndRightButtonsAndIgnoresTheWheel) {
  auto& d = *desktop_;
  std::vector<platform::GlobalClick> seen;
  auto monitor = std::make_unique<platform::x11::X11GlobalClickMonitor>(d.loop, d.bus.displayName());
  ASSERT_EQ(monitor->start([&](const platform::GlobalClick& click) { seen.push_back(click); }), succeeded());

  Display* display = XOpenDisplay(d.bus.displayName().c_str());
  ASSERT_NE(display, nullptr);
  XTestFakeMotionEvent(display, 0, 620, 460, CurrentTime);
  for (const unsigned button : {4u, 1u, 5u, 3u}) {
    XTestFakeButtonEvent(display, button, True, CurrentTime);
    XTestFakeButtonEvent(display, button, False, CurrentTime);
  }
  XFlush(display);
  using platform::MouseButton;
  using platform::MouseTransition;
  const std::vector<platform::GlobalClick> expected = {{MouseButton::left, MouseTransition::down},
                                                       {MouseButton::left, MouseTransition::up},
                                                       {MouseButton::right, MouseTransition::down},
                                                       {MouseButton::right, MouseTransition::up}};
  EXPECT_TRUE(runUntil([&] { return seen.size() >= expected.size(); }, 10));
  runFor(0.2);
  EXPECT_EQ(seen, expected);

  monitor.reset();  // joins its thread; later clicks reach no one
  XTestFakeButtonEvent(display, 1, True, CurrentTime);
  XTestFakeButtonEvent(display, 1, False, CurrentTime);
  XFlush(display);
  runFor(0.2);
  EXPECT_EQ(seen.size(), expected.size());
  XCloseDisplay(display);
}

TEST_F(AccessibilityMonitorDesktopTest, RangeBoundsOfTheEntryComeFromTheApplicationInScreenCoordinates) {
  auto& d = *desktop_;
  ASSERT_TRUE(d.application.run("focus entry"));
  const auto monitor = startMonitor();
  ASSERT_TRUE(runUntil([&] { return !focused.empty(); }));
  const auto entry = focused.back().first;
  ASSERT_TRUE(d.accessibility.setAttribute(entry, platform::AXAttribute::value, std::string("hello world")).hasValue());

  const auto frame = d.geometry.frameOf(entry);
  const auto bounds = d.geometry.boundsForRange({6, 5}, entry);
  ASSERT_TRUE(bounds);
  EXPECT_GT(bounds->width, 0.5);
  EXPECT_GE(bounds->minX(), frame.minX());
  EXPECT_LE(bounds->maxX(), frame.maxX());
  EXPECT_GE(bounds->minY(), frame.minY() - 2);
  EXPECT_LE(bounds->maxY(), frame.maxY() + 2);
  EXPECT_TRUE(d.layout.boxWidthsAsked.empty()) << "GTK answers; nothing is estimated";
  EXPECT_EQ(d.captured.messages().back().rfind("🧪 raw cocoa rect=", 0), 0u);
}

}  // namespace
}  // namespace quillet::dictate
