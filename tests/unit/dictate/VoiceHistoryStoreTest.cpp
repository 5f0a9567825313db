#include "quillet-dictate/history/VoiceHistoryStore.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <regex>
#include <string>
#include <vector>

#include "platform/fake/MemoryDefaultsStore.h"
#include "platform/fake/VirtualMainLoop.h"
#include "platform/linux/sqlite/SqliteDefaultsStore.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate {
namespace {

using platform::fake::MemoryDefaultsStore;

// The history on an in-memory settings store and virtual time, with its log lines collected.
struct HistoryFixture {
  VoiceHistoryStore make() { return VoiceHistoryStore(store, loop, log); }

  [[nodiscard]] std::vector<std::string> texts(const VoiceHistoryStore& history) const {
    std::vector<std::string> result;
    for (const auto& item : history.items.get()) result.push_back(item.text);
    return result;
  }

  // The stored value as the host would parse it.
  [[nodiscard]] nlohmann::json stored() const {
    const auto data = store.dataValue(VoiceHistoryStore::kKey);
    if (!data) return nullptr;
    return nlohmann::json::parse(data->begin(), data->end(), nullptr, false);
  }

  void storeText(const std::string& json) {
    ASSERT_EQ(store.set(VoiceHistoryStore::kKey, platform::DefaultsData(json.begin(), json.end())), succeeded());
  }

  test::TemporaryDirectory folder;
  platform::fake::VirtualMainLoop loop;
  std::string logged;
  VxLog log{folder.path() / "vessio.log", loop, [this](std::string_view line) { logged.append(line); }};
  MemoryDefaultsStore store;
};

TEST(VoiceHistoryStoreTest, AddsTrimmedTextsNewestFirstAndStoresThemAsTheHostReadsThem) {
  HistoryFixture fixture;
  auto history = fixture.make();
  fixture.loop.advance(12.7);
  history.add("  first result\n", std::string("original"));
  history.add("second", std::nullopt);
  history.add(" \n\t ", std::string("original"));

  EXPECT_EQ(fixture.texts(history), (std::vector<std::string>{"second", "first result"}));
  const auto stored = fixture.stored();
  ASSERT_TRUE(stored.is_array());
  ASSERT_EQ(stored.size(), 2U);
  const auto& newest = stored[0];
  EXPECT_EQ(newest.size(), 3U) << "an item without a mode has no \"mode\" key: " << newest.dump();
  EXPECT_EQ(stored[1]["mode"], "original");
  EXPECT_EQ(stored[1]["text"], "first result");
  // Keys in their order, no white space, the id an upper-case UUID, the time in whole seconds.
  const auto data = fixture.store.dataValue(VoiceHistoryStore::kKey).value();
  const std::string json(data.begin(), data.end());
  const std::string id = history.items.get()[1].id;
  EXPECT_EQ(json.substr(json.find("},{") + 2),
            R"({"id":")" + id + R"(","timestamp":")" + stored[1]["timestamp"].get<std::string>() +
                R"(","text":"first result","mode":"original"}])");
  EXPECT_TRUE(std::regex_match(id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
      << id;
  EXPECT_EQ(stored[1]["timestamp"].get<std::string>().size(), 20U) << stored[1]["timestamp"];
}

TEST(VoiceHistoryStoreTest, TheSameTextRightAfterItselfIsOneEntry) {
  const struct {
    const char* description;
    double secondsBetween;
    bool otherEntryBetween;
    std::size_t entries;
  } cases[] = {
      {"10 s apart", 10, false, 1},
      {"29.9 s apart", 29.9, false, 1},
      {"31 s apart", 31, false, 2},
      {"another entry between", 1, true, 3},
  };
  for (const auto& testCase : cases) {
    HistoryFixture fixture;
    auto history = fixture.make();
    history.add("ship it", std::string("original"));
    if (testCase.otherEntryBetween) history.add("something else", std::string("grammar"));
    fixture.loop.advance(testCase.secondsBetween);
    history.add("ship it", std::string("pro"));
    EXPECT_EQ(history.items.get().size(), testCase.entries) << testCase.description;
  }
}

TEST(VoiceHistoryStoreTest, KeepsTheNewestTwentyAndRemovesAndClears) {
  HistoryFixture fixture;
  auto history = fixture.make();
  for (int index = 1; index <= 21; ++index) history.add("entry " + std::to_string(index), std::nullopt);
  ASSERT_EQ(history.items.get().size(), 20U);
  EXPECT_EQ(history.items.get().front().text, "entry 21");
  EXPECT_EQ(history.items.get().back().text, "entry 2");
  EXPECT_EQ(fixture.stored().size(), 20U);

  const std::string removed = history.items.get()[3].id;
  history.remove(removed);
  EXPECT_EQ(history.items.get().size(), 19U);
  EXPECT_EQ(fixture.stored().size(), 19U);
  EXPECT_EQ(fixture.texts(history)[3], "entry 17");

  history.clear();
  EXPECT_TRUE(history.items.get().empty());
  EXPECT_EQ(fixture.stored(), nlohmann::json::array());
}

TEST(VoiceHistoryStoreTest, LoadsTheStoredListAsItIsAndAnUnreadableOneAsEmpty) {
  const std::string valid =
      R"([{"id":"B","timestamp":"2025-03-01T09:30:05Z","text":"newer"},)"
      R"({"id":"A","timestamp":"2025-03-01T10:00:00Z","text":"listed second","mode":"ai · auto"}])";
  {
    HistoryFixture fixture;
    fixture.storeText(valid);
    const auto history = fixture.make();
    EXPECT_EQ(fixture.texts(history), (std::vector<std::string>{"newer", "listed second"})) << "not re-sorted";
    EXPECT_EQ(history.items.get()[1].mode, "ai · auto");
    EXPECT_EQ(fixture.logged, "");
  }
  const struct {
    const char* description;
    std::string json;
  } unreadable[] = {
      {"one item without text", R"([{"id":"A","timestamp":"2025-03-01T09:30:05Z","text":"ok"},)"
                                R"({"id":"B","timestamp":"2025-03-01T09:30:05Z"}])"},
      {"a fraction of a second", R"([{"id":"A","timestamp":"2025-03-01T09:30:05.5Z","text":"x"}])"},
      {"a mode that is not text", R"([{"id":"A","timestamp":"2025-03-01T09:30:05Z","text":"x","mode":3}])"},
      {"not an array", R"({"id":"A"})"},
      {"not JSON", "\xFF garbage"},
  };
  for (const auto& testCase : unreadable) {
    HistoryFixture fixture;
    fixture.storeText(testCase.json);
    auto history = fixture.make();
    EXPECT_TRUE(history.items.get().empty()) << testCase.description;
    EXPECT_NE(fixture.logged.find("🕒 history decode failed: "), std::string::npos) << testCase.description;
    const auto stillStored = fixture.store.dataValue(VoiceHistoryStore::kKey).value();
    EXPECT_EQ(std::string(stillStored.begin(), stillStored.end()), testCase.json) << "left until the next change";
    history.add("fresh", std::nullopt);
    EXPECT_EQ(fixture.stored().size(), 1U) << testCase.description;
  }
}

TEST(VoiceHistoryStoreTest, AnotherProcessReadsTheListAndAChangeTouchesOnlyItsKey) {
  test::TemporaryDirectory folder;
  const auto database = folder.path() / "defaults.sqlite";
  platform::fake::VirtualMainLoop loop;
  const VxLog log{folder.path() / "vessio.log", loop, [](std::string_view) {}};
  {
    platform::sqlite::SqliteDefaultsStore agent(database);
    ASSERT_EQ(agent.set("vantix.writingStyle", std::string("concise")), succeeded());
    VoiceHistoryStore history(agent, loop, log);
    history.add("from the first run", std::string("original"));
    history.add("the newest", std::string("grammar"));
    ASSERT_TRUE(agent.flush(std::chrono::seconds(10)));
  }

  // The host, in a process of its own, reads the rows with its own SQLite and JSON reader.
  const std::string reader = R"(
import json, sqlite3, sys
rows = dict(sqlite3.connect(sys.argv[1]).execute("select key, value from defaults").fetchall())
value = rows[sys.argv[2]]
items = json.loads(value if isinstance(value, str) else bytes(value).decode("utf-8"))
sys.stderr.write(";".join(item["text"] + "|" + item.get("mode", "") for item in items) + "\n")
sys.stderr.write("style=" + str(rows["vantix.writingStyle"]) + "\n"))";
  test::ChildProcess host("/usr/bin/python3", {"-c", reader, database.string(), std::string(VoiceHistoryStore::kKey)},
                          {});
  EXPECT_EQ(host.readStandardErrorToEnd(), "the newest|grammar;from the first run|original\nstyle=concise\n");
  EXPECT_EQ(host.waitForExit(), 0);

  platform::sqlite::SqliteDefaultsStore later(database);
  const VoiceHistoryStore reread(later, loop, log);
  ASSERT_EQ(reread.items.get().size(), 2U);
  EXPECT_EQ(reread.items.get()[0].text, "the newest");
  EXPECT_EQ(reread.items.get()[0].mode, "grammar");
}

}  // namespace
}  // namespace quillet::dictate
