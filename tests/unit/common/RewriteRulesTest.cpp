#include "common/text/RewriteRules.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace quillet::text {
namespace {

TEST(RewriteRulesTest, RulesRunInOrderWithCaptureGroupsAndTheirOwnCaseRule) {
  constexpr std::array<RewriteRules::Rule, 3> rules = {{
      {R"(\bfull stop\b)", ".", true},
      {R"(\s+([.,]))", "$1", false},
      {R"(Stop)", "halt", false},
  }};
  const RewriteRules rewrite(rules);
  const struct {
    const char* description;
    const char* input;
    const char* expected;
  } cases[] = {
      {"a spoken mark, then the space before it goes", "we ship FULL STOP", "we ship."},
      {"the later rule sees what the earlier one wrote", "done full stop , then", "done., then"},
      {"a case-sensitive rule leaves other cases alone", "Stop stop", "halt stop"},
      {"no match leaves the text as it is", "nothing here", "nothing here"},
      {"ill-formed UTF-8 comes back well-formed", "a\xFF full stop", "a\xEF\xBF\xBD."},
      {"empty text", "", ""},
  };
  for (const auto& testCase : cases) {
    EXPECT_EQ(rewrite.appliedTo(testCase.input), testCase.expected) << testCase.description;
  }
}

TEST(RewriteRulesTest, APatternThatDoesNotCompileIsLeftOutAndTheOthersStillRun) {
  constexpr std::array<RewriteRules::Rule, 2> rules = {{
      {R"((unclosed)", "x", false},
      {R"(b+)", "B", false},
  }};
  const RewriteRules rewrite(rules);
  EXPECT_EQ(rewrite.appliedTo("(unclosed abbb"), "(unclosed aB");
}

}  // namespace
}  // namespace quillet::text
