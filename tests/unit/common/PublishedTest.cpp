#include "common/runtime/Published.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace quillet {
namespace {

TEST(PublishedTest, EveryAssignmentRunsTheHookThenTheObserversEvenWhenUnchanged) {
  std::vector<std::string> events;
  Published<int> value(7, [&](const int& assigned) { events.push_back("hook " + std::to_string(assigned)); });
  auto subscription = value.observe([&](const int& assigned) { events.push_back("observer " + std::to_string(assigned)); });

  EXPECT_EQ(value.get(), 7);
  EXPECT_TRUE(events.empty()) << "building the value is not an assignment";

  value.set(7);
  value.set(9);

  EXPECT_EQ(value.get(), 9);
  EXPECT_EQ(events, (std::vector<std::string>{"hook 7", "observer 7", "hook 9", "observer 9"}));
}

TEST(PublishedTest, ObserverSeesTheNewValueThroughGet) {
  Published<std::string> value("old");
  std::string seenThroughGet;
  auto subscription = value.observe([&](const std::string&) { seenThroughGet = value.get(); });
  value.set("new");
  EXPECT_EQ(seenThroughGet, "new");
}

TEST(PublishedTest, ReadsFromAnotherThreadSeeWholeValues) {
  const std::string first(1000, 'a');
  const std::string second(1000, 'b');
  Published<std::string> value(first);
  std::thread reader([&] {
    for (int round = 0; round < 2000; ++round) {
      const std::string seen = value.get();
      ASSERT_TRUE(seen == first || seen == second);
    }
  });
  for (int round = 0; round < 2000; ++round) value.set(round % 2 == 0 ? second : first);
  reader.join();
}

}  // namespace
}  // namespace quillet
