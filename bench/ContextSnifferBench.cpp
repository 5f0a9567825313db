// ContextSniffer::capture() against a real GTK window over AT-SPI, on a private X server and
// accessibility bus: the cost of one capture as the user waits for the HUD.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>

#include <cstdlib>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/fake/FakeWorkspace.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "quillet-dictate/accessibility/ContextSniffer.h"
#include "tests/support/AccessibilityBus.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using quillet::platform::AccessibilityElement;
using quillet::platform::AXAttribute;

// The private desktop with tests/support/fields-app.py showing its window.
struct FieldsDesktop {
  FieldsDesktop() {
    for (const auto& [name, value] : bus.environment()) ::setenv(name.c_str(), value.c_str(), 1);
    for (const auto& name : quillet::test::AccessibilityBus::removedVariables()) ::unsetenv(name.c_str());
    static int argc = 1;
    static char name[] = "quillet_context_sniffer_bench";
    static char* argv[] = {name, nullptr};
    application = std::make_unique<QCoreApplication>(argc, argv);
    loop = std::make_unique<quillet::platform::qt::QtMainLoop>();
    accessibility = std::make_unique<quillet::platform::atspi::AtspiAccessibility>(*loop);

    const auto pipe = folder.path() / "commands";
    if (::mkfifo(pipe.c_str(), 0600) != 0) throw std::runtime_error("cannot create the command pipe");
    app = std::make_unique<quillet::test::ChildProcess>(
        "/usr/bin/python3", std::vector<std::string>{QUILLET_SOURCE_DIR "/tests/support/fields-app.py", pipe.string()},
        bus.environment(), quillet::test::AccessibilityBus::removedVariables());
    if (!app->waitForStandardError("ready pid=")) throw std::runtime_error("the GTK application did not start");
    entry = findEntry();
    if (entry.isNone()) throw std::runtime_error("the GTK application's entry is not on the accessibility bus");
  }

  AccessibilityElement findEntry() {
    for (int attempt = 0; attempt < 200; ++attempt) {
      std::deque<AccessibilityElement> queue{accessibility->applicationElement(app->pid())};
      while (!queue.empty()) {
        auto element = queue.front();
        queue.pop_front();
        if (accessibility->typedAttribute<std::string>(element, AXAttribute::role) == "AXTextField") return element;
        for (auto& child : accessibility->typedAttribute<quillet::platform::AXElementList>(element, AXAttribute::children)
                               .value_or(quillet::platform::AXElementList{})) {
          queue.push_back(std::move(child));
        }
      }
      ::usleep(50'000);
    }
    return {};
  }

  quillet::test::TemporaryDirectory folder;
  quillet::test::AccessibilityBus bus;
  std::unique_ptr<QCoreApplication> application;
  std::unique_ptr<quillet::platform::qt::QtMainLoop> loop;
  std::unique_ptr<quillet::platform::atspi::AtspiAccessibility> accessibility;
  std::unique_ptr<quillet::test::ChildProcess> app;
  AccessibilityElement entry;
};

void BM_ContextSnifferCaptureOfAGtkWindow(benchmark::State& state) {
  static FieldsDesktop desktop;
  quillet::platform::fake::FakeWorkspace workspace(*desktop.loop);
  quillet::dictate::ContextSniffer sniffer(
      {*desktop.accessibility, workspace, [] { return desktop.entry; }, [] { return std::string("org.gnome.Fields"); }});
  std::size_t characters = 0;
  for (auto _ : state) {
    const auto context = sniffer.capture();
    characters = context.text.size();
    benchmark::DoNotOptimize(context);
  }
  state.counters["text_bytes"] = static_cast<double>(characters);
}
BENCHMARK(BM_ContextSnifferCaptureOfAGtkWindow)->Unit(benchmark::kMicrosecond);

}  // namespace
