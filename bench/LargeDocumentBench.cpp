// Dictating into long documents in gedit, over the real accessibility bus on a private desktop:
// how long one insertion takes, and how much of the agent's main thread each keystroke of the user
// costs while the focus tracker follows the document (with a text-change listener attached, as the
// capsule attaches one). For comparison, one read of the whole document, which every keystroke cost
// before. Sizes: 1 MB and 10 MB.
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/fake/FakeScreens.h"
#include "platform/fake/FakeTextLayout.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/identity/ProcessAppIdentity.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/qt/QtPasteboard.h"
#include "platform/linux/x11/X11ApplicationActivation.h"
#include "platform/linux/x11/X11GlobalClickMonitor.h"
#include "platform/linux/x11/X11Workspace.h"
#include "platform/linux/x11/XTestKeySynth.h"
#include "quillet-dictate/accessibility/AccessibilityMonitor.h"
#include "quillet-dictate/accessibility/TextInsertion.h"
#include "common/text/UnicodeText.h"
#include "quillet-dictate/shell/VxLog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FileContents.h"
#include "tests/support/RealDesktop.h"
#include "tests/support/RunLoopUntil.h"
#include "tests/support/ShownTextArea.h"

namespace {

using namespace quillet;
using platform::AccessibilityElement;
using platform::AXAttribute;
using Clock = std::chrono::steady_clock;

constexpr int kKeystrokes = 200;
constexpr int kWarmInsertions = 10;

double milliseconds(Clock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

// CPU time the calling thread has run, from the scheduler's account.
double threadCpuSeconds() {
  const auto path = "/proc/self/task/" + std::to_string(::syscall(SYS_gettid)) + "/schedstat";
  return std::stod(test::readFile(path)) / 1e9;
}

std::string documentOfSize(std::size_t bytes) {
  std::string document;
  for (int line = 0; document.size() < bytes; ++line) {
    document += "Line " + std::to_string(line) + " of the minutes \xF0\x9F\x98\x80 with the plans we agreed on today.\n";
  }
  return document;
}

// Waits, from a process of its own, until gedit (`processId`) holds `characters` characters: gedit loads a
// long file in steps, and a wait through the agent's own accessibility client would map the text early.
const char* const kWaitForLoad = R"(
import sys, time, gi
gi.require_version("Atspi", "2.0")
from gi.repository import Atspi
pid, want = int(sys.argv[1]), int(sys.argv[2])
def texts(node, depth=0):
    if node is None or depth > 30: return
    if node.get_role() == Atspi.Role.TEXT and node.get_state_set().contains(Atspi.StateType.SHOWING): yield node
    for i in range(node.get_child_count()): yield from texts(node.get_child_at_index(i), depth + 1)
deadline = time.time() + 300
while time.time() < deadline:
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_process_id() == pid:
            for text in texts(app):
                if text.get_text_iface().get_character_count() == want: sys.exit(0)
    time.sleep(0.2)
sys.exit(1)
)";

std::int64_t codePoints(const std::string& text) {
  return std::count_if(text.begin(), text.end(), [](char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; });
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Bench {
  Bench() {
    desktop.useInThisProcess();
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    static int argc = 1;
    static char name[] = "quillet_large_document_bench";
    static char* argv[] = {name, nullptr};
    application = std::make_unique<QGuiApplication>(argc, argv);
    loop = std::make_unique<platform::qt::QtMainLoop>();
    accessibility = std::make_unique<platform::atspi::AtspiAccessibility>(*loop);
    workspace = std::make_unique<platform::x11::X11Workspace>(*loop, identity, desktop.displayName());
  }

  bool runUntil(const std::function<bool()>& condition, double seconds = 120) {
    return test::runLoopUntil(*loop, condition, seconds);
  }

  AccessibilityElement documentView(int processId) {
    return test::documentViewOf(*accessibility, *loop, processId, 120);
  }

  void measure(std::size_t bytes) {
    const std::string document = documentOfSize(bytes);
    const auto file = desktop.folder() / ("document-" + std::to_string(bytes) + ".txt");
    std::ofstream(file, std::ios::binary) << document;
    auto editor = desktop.launchGedit(file);
    const auto view = documentView(editor->processId());
    if (view.isNone()) {
      std::printf("%zu bytes: gedit's document never showed on the accessibility bus\n", bytes);
      return;
    }
    // gedit keeps the file's last line break out of its buffer.
    const std::string buffer = document.substr(0, document.size() - 1);
    const auto expectedLength = static_cast<double>(text::utf16Length(buffer));
    test::ChildProcess waitForLoad("/usr/bin/python3",
                                   {"-c", kWaitForLoad, std::to_string(editor->processId()), std::to_string(codePoints(buffer))},
                                   desktop.environment(), test::AccessibilityBus::removedVariables(),
                                   test::ChildProcess::StandardOutput::discarded);
    const auto loaded = waitForLoad.waitForExit(std::chrono::seconds(320));
    if (!loaded || !WIFEXITED(*loaded) || WEXITSTATUS(*loaded) != 0) {
      std::printf("%zu bytes: gedit never finished loading the document\n", bytes);
      return;
    }
    // gedit lays a long document out in idle time after loading it and answers slowly meanwhile; the
    // figures are the agent's, so they are taken once gedit answers a call at once again.
    int quickAnswers = 0;
    const auto settleStarted = Clock::now();
    runUntil([&] {
      const auto asked = Clock::now();
      static_cast<void>(accessibility->typedAttribute<std::string>(view, AXAttribute::role));
      quickAnswers = milliseconds(Clock::now() - asked) < 2 ? quickAnswers + 1 : 0;
      return quickAnswers >= 20;
    });
    const double settleSeconds = std::chrono::duration<double>(Clock::now() - settleStarted).count();

    // The agent as it runs: the focus tracker on the document, a listener for its text changes.
    platform::posix::SystemClock clock;
    dictate::VxLog log(desktop.folder() / "vessio.log", clock, [](std::string_view) {});
    platform::fake::FakeScreens screens;
    screens.attached = {{.frame = {0, 0, 640, 480}, .visibleFrame = {0, 0, 640, 480}}};
    platform::fake::FakeTextLayout layout;
    dictate::FieldGeometry geometry{{*accessibility, identity, screens, layout, nullptr, log}};
    platform::x11::X11GlobalClickMonitor clicks(*loop, desktop.displayName());
    auto monitor = dictate::AccessibilityMonitor::create(
        {*accessibility, *workspace, identity, *loop, clock, screens, clicks, log, geometry});
    int textChanges = 0;
    monitor->onTextChanged = [&](const std::string&) { ++textChanges; };
    const auto focusStarted = Clock::now();
    monitor->start();
    runUntil([&] { return monitor->currentElement() == view; });
    const double focusMilliseconds = milliseconds(Clock::now() - focusStarted);

    // The caret in the middle of the document.

    desktop.pressKeys("ctrl+End");
    for (int page = 0; page < 3; ++page) desktop.pressKeys("Page_Up");
    runUntil([] { return false; }, 0.3);

    // The first insertion, a second after the focus (the user speaking meanwhile), then insertions
    // after the user typed.
    platform::qt::QtPasteboard clipboard;
    platform::qt::QtPasteboard primary{platform::qt::QtPasteboard::Selection::primary};
    platform::x11::XTestKeySynth keys{desktop.displayName()};
    platform::x11::X11ApplicationActivation activation{desktop.displayName()};
    auto insertion = dictate::TextInsertion::create(
        {*accessibility, identity, clipboard, primary, keys, activation, *loop, log, [] { return dictate::InsertionTarget(); }});
    const std::string dictated = "Caf\xC3\xA9 na\xC3\xAFve \xF0\x9F\x8E\x89 we ship on Friday \xE2\x80\x94";
    runUntil([] { return false; }, 1.0);
    const double cpuBeforeFirst = threadCpuSeconds();
    auto started = Clock::now();
    insertion->insertAtCursor(dictated, view);
    const double firstInsertion = milliseconds(Clock::now() - started);
    const double firstInsertionCpu = (threadCpuSeconds() - cpuBeforeFirst) * 1000;

    // Keystrokes typed by the user while the agent's loop runs.
    const std::string typed(kKeystrokes, 'k');
    const double mainBefore = threadCpuSeconds();
    const auto wallBefore = Clock::now();
    test::ChildProcess typing(test::ChildProcess::pathOf("xdotool"),
                              {"type", "--delay", "30", "--", typed}, desktop.environment(), {},
                              test::ChildProcess::StandardOutput::discarded);
    runUntil([&] { return typing.waitForExit(std::chrono::milliseconds(0)).has_value(); });
    runUntil([] { return false; }, 0.5);  // the last changes arrive and are gathered
    const double mainPerKeystroke = (threadCpuSeconds() - mainBefore) * 1000 / kKeystrokes;
    const double typingSeconds = std::chrono::duration<double>(Clock::now() - wallBefore).count();

    std::vector<double> warm;
    std::vector<double> warmCpu;
    for (int round = 0; round < kWarmInsertions; ++round) {
      desktop.pressKeys("Down");
      runUntil([] { return false; }, 0.05);
      const double cpuBefore = threadCpuSeconds();
      started = Clock::now();
      insertion->insertAtCursor(dictated, view);
      warm.push_back(milliseconds(Clock::now() - started));
      warmCpu.push_back((threadCpuSeconds() - cpuBefore) * 1000);
    }

    // What every keystroke used to cost: the whole document read once.
    started = Clock::now();
    const auto whole = accessibility->typedAttribute<std::string>(view, AXAttribute::value);
    const double wholeRead = milliseconds(Clock::now() - started);

    std::printf("%5.1f MB document (%zu bytes, %.0f UTF-16 units)\n", double(bytes) / 1e6, bytes, expectedLength);
    std::printf("  gedit busy after loading      %8.1f s\n", settleSeconds);
    std::printf("  focus reported after          %8.1f ms\n", focusMilliseconds);
    std::printf("  main thread per keystroke     %8.3f ms  (%d keys in %.1f s, %d text-change deliveries)\n",
                mainPerKeystroke, kKeystrokes, typingSeconds, textChanges);
    std::printf("  insertion 1 s after focus     %8.2f ms  (agent's main-thread CPU %.2f ms; the rest is gedit answering)\n",
                firstInsertion, firstInsertionCpu);
    std::printf("  insertion after typing        %8.2f ms  median of %d, max %.2f ms (main-thread CPU median %.2f ms)\n",
                median(warm), kWarmInsertions, *std::max_element(warm.begin(), warm.end()), median(warmCpu));
    std::printf("  one read of the whole text    %8.1f ms  (%zu bytes)\n", wholeRead, whole ? whole->size() : 0);
    std::fflush(stdout);
  }

  test::RealDesktop desktop;
  platform::identity::ProcessAppIdentity identity;
  std::unique_ptr<QGuiApplication> application;
  std::unique_ptr<platform::qt::QtMainLoop> loop;
  std::unique_ptr<platform::atspi::AtspiAccessibility> accessibility;
  std::unique_ptr<platform::x11::X11Workspace> workspace;
};

}  // namespace

int main() {
  Bench bench;
  for (const std::size_t bytes : {std::size_t{1000000}, std::size_t{10000000}}) bench.measure(bytes);
  return 0;
}
