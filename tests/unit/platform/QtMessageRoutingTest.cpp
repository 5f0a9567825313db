#include "platform/linux/qt/QtMessageRouting.h"

#include <QtGlobal>
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quillet::platform::qt {
namespace {

// What reached the sink, from any thread.
class RoutedLines {
 public:
  void add(std::string_view line) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
  }
  [[nodiscard]] std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

TEST(QtMessageRoutingTest, EveryLineOfEveryKindOfMessageArrivesTaggedAndWhole) {
  RoutedLines routed;
  routeQtMessages([&routed](std::string_view line) { routed.add(line); });
  qWarning("This plugin does not support raise()");
  qCritical("first line\nsecond line\n");
  qInfo("%s", "");
  std::thread([] { qWarning("from another thread"); }).join();
  EXPECT_EQ(routed.lines(), (std::vector<std::string>{"[qt] This plugin does not support raise()\n",
                                                      "[qt] first line\n", "[qt] second line\n",
                                                      "[qt] from another thread\n"}));

  // A later route replaces the first, with its own tag.
  RoutedLines second;
  routeQtMessages([&second](std::string_view line) { second.add(line); }, "[pill] ");
  qWarning("moved");
  EXPECT_EQ(second.lines(), std::vector<std::string>{"[pill] moved\n"});
  EXPECT_EQ(routed.lines().size(), 4U);
  routeQtMessages([](std::string_view) {});
}

}  // namespace
}  // namespace quillet::platform::qt
