#include "common/json/JsonLine.h"

#include <gtest/gtest.h>

namespace quillet::json {
namespace {

TEST(JsonLineTest, WritesCompactTextWithEscapedSlashesInOrder) {
  nlohmann::ordered_json value;
  value["type"] = "audio";
  value["path"] = "/tmp/quillet-audio/you-1.wav";
  value["apps"] = nlohmann::ordered_json::array({"a/b", "c"});
  value["note"] = nullptr;
  value["already"] = "\\/";
  EXPECT_EQ(jsonLineText(value).valueOr("failed"),
            R"({"type":"audio","path":"\/tmp\/quillet-audio\/you-1.wav","apps":["a\/b","c"],"note":null,"already":"\\\/"})");
  // What a reader gets back is the original text.
  EXPECT_EQ(nlohmann::json::parse(jsonLineText(value).valueOr("{}"))["path"], "/tmp/quillet-audio/you-1.wav");
}

TEST(JsonLineTest, RefusesTextThatIsNotUtf8) {
  nlohmann::ordered_json value;
  value["text"] = std::string("caf\xE9");
  const auto line = jsonLineText(value);
  ASSERT_TRUE(line.failed());
  EXPECT_NE(line.error().description().find("UTF-8"), std::string::npos) << line.error();
}

}  // namespace
}  // namespace quillet::json
