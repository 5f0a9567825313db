#include "quillet-capture/protocol/LineFramer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillet::capture {
namespace {

constexpr const char* kOversized = "<oversized>";

struct FramedStream {
  std::vector<std::string> pieces;  // lines, and kOversized where a line was too long
  std::string pending;
};

FramedStream frame(const std::vector<std::string>& reads, std::size_t maximumLineBytes) {
  LineFramer framer(maximumLineBytes);
  FramedStream framed;
  for (const auto& bytes : reads) {
    framer.append(
        bytes, [&](std::string_view line) { framed.pieces.emplace_back(line); },
        [&] { framed.pieces.emplace_back(kOversized); });
  }
  framed.pending = framer.pending();
  return framed;
}

TEST(LineFramerTest, CutsReadsIntoLines) {
  static const struct {
    const char* name;
    std::vector<std::string> reads;
    std::size_t maximumLineBytes;
    std::vector<std::string> expectedPieces;
    std::string expectedPending;
  } cases[] = {
      {"one line", {"a\n"}, 64, {"a"}, ""},
      {"several lines in one read", {"a\nbb\nccc\n"}, 64, {"a", "bb", "ccc"}, ""},
      {"a line split across reads", {"{\"cm", "d\":\"stop\"}\n"}, 64, {"{\"cmd\":\"stop\"}"}, ""},
      {"a line split over three reads", {"ab", "cd", "ef\n"}, 64, {"abcdef"}, ""},
      {"the line feed arriving alone", {"abc", "\n"}, 64, {"abc"}, ""},
      {"a multi-byte character split across reads", {"caf\xC3", "\xA9\n"}, 64, {"caf\xC3\xA9"}, ""},
      {"an unfinished last line is kept", {"a\nb"}, 64, {"a"}, "b"},
      {"empty lines are passed on", {"\n\na\n"}, 64, {"", "", "a"}, ""},
      {"a carriage return stays in its line", {"a\r\n"}, 64, {"a\r"}, ""},
      {"a line of exactly the limit", {"abcd\n"}, 4, {"abcd"}, ""},
      {"a line one byte over the limit", {"abcde\nok\n"}, 4, {kOversized, "ok"}, ""},
      {"an oversized line across reads is reported once", {"abc", "def", "ghi", "jk\nok\n"}, 4, {kOversized, "ok"}, ""},
      {"an oversized line made of a pending part", {"ab", "cde\n"}, 4, {kOversized}, ""},
      {"an oversized line that never ends keeps nothing", {"abcdefgh", "ijkl"}, 4, {kOversized}, ""},
      {"lines before and after an oversized one", {"ok\nabcdefgh\nfine\n"}, 4, {"ok", kOversized, "fine"}, ""},
      {"two oversized lines", {"abcdefgh\nijklmnop\n"}, 4, {kOversized, kOversized}, ""},
  };
  for (const auto& testCase : cases) {
    SCOPED_TRACE(testCase.name);
    const FramedStream framed = frame(testCase.reads, testCase.maximumLineBytes);
    EXPECT_EQ(framed.pieces, testCase.expectedPieces);
    EXPECT_EQ(framed.pending, testCase.expectedPending);
  }
}

TEST(LineFramerTest, DefaultLimitIsOneMebibyte) {
  EXPECT_EQ(LineFramer().maximumLineBytes(), 1024u * 1024u);
  const std::string longest(1024 * 1024, 'x');
  EXPECT_EQ(frame({longest + "\n"}, LineFramer::kDefaultMaximumLineBytes).pieces, std::vector<std::string>{longest});
  EXPECT_EQ(frame({longest, "x\n"}, LineFramer::kDefaultMaximumLineBytes).pieces,
            std::vector<std::string>{kOversized});
}

}  // namespace
}  // namespace quillet::capture
