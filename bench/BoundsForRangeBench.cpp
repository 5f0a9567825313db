// One boundsForRange against a real GTK entry over AT-SPI (the application answers the range itself),
// and one that falls through to the estimate with Qt's text layout (a field that answers nothing).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeAppIdentity.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/atspi/AtspiAccessibility.h"
#include "platform/linux/posix/SystemClock.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/qt/QtTextLayout.h"
#include "quillet-dictate/accessibility/FieldGeometry.h"
#include "tests/support/AccessibilityBus.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace {

using namespace quillet;

// A private desktop with the GTK fields application, its entry focused and holding a sentence.
struct GtkDesktop {
  GtkDesktop() {
    for (const auto& [name, value] : bus.environment()) ::setenv(name.c_str(), value.c_str(), 1);
    for (const auto& name : test::AccessibilityBus::removedVariables()) ::unsetenv(name.c_str());
    const auto pipe = folder.path() / "commands";
    ::mkfifo(pipe.c_str(), 0600);
    const auto script = std::filesystem::path(__FILE__).parent_path().parent_path() / "tests" / "support" / "fields-app.py";
    application = std::make_unique<test::ChildProcess>("/usr/bin/python3", std::vector<std::string>{script.string(), pipe},
                                                       bus.environment(), test::AccessibilityBus::removedVariables());
    if (!application->waitForStandardError("ready pid=", std::chrono::seconds(30))) {
      throw std::runtime_error("the GTK application did not start");
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (entry.isNone() && std::chrono::steady_clock::now() < deadline) {
      spin(0.1);
      entry = findEntry(accessibility.applicationElement(application->pid()));
    }
    if (entry.isNone()) throw std::runtime_error("the entry never appeared on the accessibility bus");
    (void)accessibility.setAttribute(entry, platform::AXAttribute::value, std::string("The quarterly numbers look fine"));
  }

  void spin(double seconds) {
    loop.after(seconds, [this] { loop.quit(0); });
    loop.run();
  }

  platform::AccessibilityElement findEntry(const platform::AccessibilityElement& root) {
    std::vector<platform::AccessibilityElement> queue{root};
    for (std::size_t next = 0; next < queue.size() && next < 500; ++next) {
      const auto& element = queue[next];
      if (accessibility.typedAttribute<std::string>(element, platform::AXAttribute::role) == "AXTextField" &&
          !accessibility.typedAttribute<std::string>(element, platform::AXAttribute::subrole)) {
        return element;
      }
      for (auto& child : accessibility.typedAttribute<platform::AXElementList>(element, platform::AXAttribute::children)
                             .value_or(platform::AXElementList{})) {
        queue.push_back(std::move(child));
      }
    }
    return {};
  }

  test::TemporaryDirectory folder;
  test::AccessibilityBus bus;
  std::unique_ptr<test::ChildProcess> application;
  platform::qt::QtMainLoop loop;
  platform::atspi::AtspiAccessibility accessibility{loop};
  platform::AccessibilityElement entry;
};

struct Geometry {
  explicit Geometry(platform::Accessibility& accessibility)
      : geometry({accessibility, identity, screens, layout, nullptr, log}) {
    screens.attached = {{.frame = {0, 0, 640, 480}, .visibleFrame = {0, 0, 640, 480}}};
  }

  platform::fake::FakeAppIdentity identity;
  platform::fake::FakeScreens screens;
  platform::qt::QtTextLayout layout;
  test::TemporaryDirectory folder;
  platform::posix::SystemClock clock;
  dictate::VxLog log{folder.path() / "bench.log", clock, [](std::string_view) {}};
  dictate::FieldGeometry geometry;
};

GtkDesktop* desktop = nullptr;

void BM_BoundsForRangeAnsweredByGtk(benchmark::State& state) {
  Geometry geometry(desktop->accessibility);
  for (auto _ : state) benchmark::DoNotOptimize(geometry.geometry.boundsForRange({4, 9}, desktop->entry));
  if (!geometry.geometry.boundsForRange({4, 9}, desktop->entry)) state.SkipWithError("GTK gave no rectangle");
}
BENCHMARK(BM_BoundsForRangeAnsweredByGtk)->Unit(benchmark::kMicrosecond);

void BM_BoundsForRangeEstimatedWithQt(benchmark::State& state) {
  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeAccessibility tree(loop);
  const auto application = tree.addApplication(100);
  const auto field = tree.addElement(application, {.role = "AXTextArea",
                                                   .value = "The quarterly numbers look fine, but the forecast for the "
                                                            "next two quarters needs another pass before Friday.",
                                                   .placeholder = "Notes",
                                                   .frame = platform::AXRect{{40, 60}, {300, 120}}});
  Geometry geometry(tree);
  for (auto _ : state) benchmark::DoNotOptimize(geometry.geometry.boundsForRange({60, 25}, field));
  if (!geometry.geometry.boundsForRange({60, 25}, field)) state.SkipWithError("no estimate");
}
BENCHMARK(BM_BoundsForRangeEstimatedWithQt)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  GtkDesktop gtk;
  desktop = &gtk;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  desktop = nullptr;
  return 0;
}
