#include "common/runtime/RecentMap.h"

#include <gtest/gtest.h>

#include <string>

namespace quillet {
namespace {

TEST(RecentMapTest, KeepsTheMostRecentlyUsedEntriesUpToItsCapacity) {
  RecentMap<std::string, int> map(2);
  map.set(":1.10", 100);
  map.set(":1.11", 110);
  ASSERT_NE(map.find(":1.10"), nullptr);  // now the most recent
  map.set(":1.12", 120);                   // forgets :1.11, the least recent
  EXPECT_EQ(map.size(), 2u);
  EXPECT_EQ(map.find(":1.11"), nullptr);
  ASSERT_NE(map.find(":1.10"), nullptr);
  EXPECT_EQ(*map.find(":1.10"), 100);
  ASSERT_NE(map.find(":1.12"), nullptr);
  EXPECT_EQ(*map.find(":1.12"), 120);
}

TEST(RecentMapTest, WritingAnExistingKeyReplacesItsValueAndMakesItTheMostRecent) {
  RecentMap<std::string, int> map(2);
  map.set("a", 1);
  map.set("b", 2);
  map.set("a", 3);
  map.set("c", 4);  // forgets b
  EXPECT_EQ(map.find("b"), nullptr);
  ASSERT_NE(map.find("a"), nullptr);
  EXPECT_EQ(*map.find("a"), 3);
  EXPECT_EQ(map.size(), 2u);
}

TEST(RecentMapTest, AThousandNamesThatComeAndGoLeaveOnlyTheCapacity) {
  RecentMap<int, int> map(32);
  for (int name = 0; name < 1000; ++name) map.set(name, name);
  EXPECT_EQ(map.size(), 32u);
  EXPECT_NE(map.find(999), nullptr);
  EXPECT_EQ(map.find(967), nullptr);
  EXPECT_NE(map.find(968), nullptr);
}

}  // namespace
}  // namespace quillet
