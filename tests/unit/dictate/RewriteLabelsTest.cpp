#include "quillet-dictate/hud/RewriteLabels.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillet::dictate {
namespace {

TEST(RewriteLabelsTest, EveryModeAndTemplateHasItsLabelAndTheHistoryModeIsItLowerCased) {
  EXPECT_EQ(kCleanupModeLabels.rawValue(CleanupMode::professional), "Pro");
  EXPECT_EQ(kAIPromptTemplateLabels.rawValue(AIPromptTemplate::automatic), "AI \xC2\xB7 Auto");
  for (const auto mode : kCleanupModeLabels.allCases()) EXPECT_FALSE(kCleanupModeLabels.rawValue(mode).empty());
  for (const auto template_ : kAIPromptTemplateLabels.allCases()) {
    EXPECT_FALSE(kAIPromptTemplateLabels.rawValue(template_).empty());
  }

  const std::vector<std::string> labels = {"Pro", "AI \xC2\xB7 Auto"};
  const struct {
    std::size_t index;
    const char* mode;
  } cases[] = {{0, "original"}, {1, "pro"}, {2, "ai \xC2\xB7 auto"}, {3, "original"}};
  for (const auto& testCase : cases) {
    EXPECT_EQ(historyModeOf(testCase.index, labels), testCase.mode) << "alternative " << testCase.index;
  }
  EXPECT_EQ(historyModeOf(1, {}), "original");
}

TEST(RewriteLabelsTest, SmartModeKnowsTheEditorsAndIdesExactly) {
  const struct {
    const char* bundleId;
    bool devPrompt;
  } cases[] = {
      {"com.microsoft.VSCode", true},       {"dev.zed.Zed", true},        {"com.jetbrains.CLion", true},
      {"com.google.android.studio", true},  {"com.microsoft.vscode", false}, {"org.gnome.gedit", false},
      {"", false},
  };
  for (const auto& testCase : cases) EXPECT_EQ(isDevPromptApp(testCase.bundleId), testCase.devPrompt) << testCase.bundleId;
}

}  // namespace
}  // namespace quillet::dictate
