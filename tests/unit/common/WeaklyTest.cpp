#include "common/runtime/Weakly.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quillet {
namespace {

struct Counter {
  int calls = 0;
  int lastArgument = 0;
};

TEST(WeaklyTest, CallsTheTargetWhileItLivesAndNothingAfter) {
  auto counter = std::make_shared<Counter>();
  std::function<void(int)> callback = weakly(counter, [](Counter& target, int argument) {
    ++target.calls;
    target.lastArgument = argument;
  });

  callback(4);
  EXPECT_EQ(counter->calls, 1);
  EXPECT_EQ(counter->lastArgument, 4);

  std::weak_ptr<Counter> watcher = counter;
  counter.reset();
  EXPECT_TRUE(watcher.expired()) << "the callback must not keep its target alive";
  callback(5);  // target gone: nothing happens, nothing crashes
}

TEST(LifetimeTest, AWatchSeesItsObjectEndAndEveryCopyDoesToo) {
  auto owner = std::make_unique<Lifetime>();
  const Lifetime::Watch watch = owner->watch();
  const Lifetime::Watch copy = watch;
  EXPECT_FALSE(watch.ended());
  owner.reset();
  EXPECT_TRUE(watch.ended());
  EXPECT_TRUE(copy.ended());
}

}  // namespace
}  // namespace quillet
