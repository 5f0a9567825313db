#include "common/text/InternetDateTime.h"

#include <gtest/gtest.h>

#include <chrono>

namespace quillet::text {
namespace {

using std::chrono::sys_days;
using namespace std::chrono_literals;

TEST(InternetDateTimeTest, WritesUtcInWholeSecondsWithAZ) {
  const auto time = sys_days(std::chrono::year(2025) / 3 / 1) + 9h + 30min + 5s + 999ms;
  EXPECT_EQ(internetDateTime(time), "2025-03-01T09:30:05Z");
  EXPECT_EQ(internetDateTime(sys_days(std::chrono::year(1970) / 1 / 1)), "1970-01-01T00:00:00Z");
  EXPECT_EQ(internetDateTime(sys_days(std::chrono::year(2024) / 2 / 29) + 23h + 59min + 59s), "2024-02-29T23:59:59Z");
}

TEST(InternetDateTimeTest, ReadsWhatItWritesAndOffsetsButNoFractionsOrNonsense) {
  const auto expected = sys_days(std::chrono::year(2025) / 3 / 1) + 9h + 30min + 5s;
  const struct {
    const char* text;
    bool readable;
  } cases[] = {
      {"2025-03-01T09:30:05Z", true},       {"2025-03-01t09:30:05z", true},
      {"2025-03-01T10:30:05+01:00", true},  {"2025-02-28T23:00:05-10:30", true},
      {"2025-03-01T09:30:05.250Z", false},  {"2025-03-01T09:30:05", false},
      {"2025-03-01 09:30:05Z", false},      {"2025-02-30T09:30:05Z", false},
      {"2025-03-01T24:00:00Z", false},      {"2025-03-01T09:60:05Z", false},
      {"2025-3-1T09:30:05Z", false},        {"", false},
      {"2025-03-01T09:30:05+0100", false},  {"2025-03-01T09:30:05Z ", false},
  };
  // Every readable case stands for the same moment: offsets move the local time by as much.
  for (const auto& testCase : cases) {
    const auto parsed = parsedInternetDateTime(testCase.text);
    ASSERT_EQ(parsed.hasValue(), testCase.readable) << testCase.text;
    if (!testCase.readable) continue;
    EXPECT_EQ(parsed.value(), std::chrono::system_clock::time_point(expected)) << testCase.text;
  }
}

}  // namespace
}  // namespace quillet::text
