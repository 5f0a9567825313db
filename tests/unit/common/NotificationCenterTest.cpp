#include "common/runtime/NotificationCenter.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillet {
namespace {

TEST(NotificationCenterTest, DeliversObjectToObserversOfThatNameOnly) {
  NotificationCenter center;
  std::vector<bool> received;
  int otherCalls = 0;
  auto subscription = center.addObserver("vessio.capsuleVisibilityChanged",
                                         [&](const std::any& object) { received.push_back(std::any_cast<bool>(object)); });
  auto other = center.addObserver("vessio.openSettings", [&](const std::any&) { ++otherCalls; });

  center.post("vessio.capsuleVisibilityChanged", true);
  center.post("vessio.capsuleVisibilityChanged", true);
  center.post("vessio.capsuleVisibilityChanged", false);

  EXPECT_EQ(received, (std::vector<bool>{true, true, false}));
  EXPECT_EQ(otherCalls, 0);
}

TEST(NotificationCenterTest, EndedSubscriptionHearsNothingMore) {
  NotificationCenter center;
  int calls = 0;
  auto subscription = center.addObserver("vessio.openSettings", [&](const std::any&) { ++calls; });
  center.post("vessio.openSettings");
  subscription.reset();
  center.post("vessio.openSettings");
  EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, ObserverMayUnsubscribeItselfWhileBeingNotified) {
  NotificationCenter center;
  int calls = 0;
  Subscription subscription;
  subscription = center.addObserver("vessio.openSettings", [&](const std::any&) {
    ++calls;
    subscription.reset();
  });
  center.post("vessio.openSettings");
  center.post("vessio.openSettings");
  EXPECT_EQ(calls, 1);
}

TEST(NotificationCenterTest, SubscriptionRemovesItsObserverAndMayOutliveTheList) {
  Subscription outliving;
  {
    ObserverList<int> observers;
    auto first = observers.add([](int) {});
    outliving = observers.add([](int) {});
    EXPECT_EQ(observers.size(), 2u);
    first.reset();
    EXPECT_EQ(observers.size(), 1u);
  }
  // The list is gone; ending the subscription must not reach into it (AddressSanitizer checks this).
  outliving.reset();
  outliving.reset();
}

}  // namespace
}  // namespace quillet
