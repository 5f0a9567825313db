#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "common/runtime/RawValueTable.h"
#include "quillet-dictate/backend/AIPromptTemplate.h"
#include "quillet-dictate/backend/CleanupMode.h"

namespace quillet::dictate {

// The names a result's rewrites carry in the alternatives list; lower-cased, they are the history's modes.
// The dot of the AI templates is U+00B7 with a space on each side.
inline constexpr RawValueTable<CleanupMode, 5> kCleanupModeLabels({{
    {CleanupMode::grammar, "Grammar"},
    {CleanupMode::concise, "Concise"},
    {CleanupMode::professional, "Pro"},
    {CleanupMode::casual, "Casual"},
    {CleanupMode::custom, "Custom"},
}});

inline constexpr RawValueTable<AIPromptTemplate, 5> kAIPromptTemplateLabels({{
    {AIPromptTemplate::automatic, "AI \u00B7 Auto"},
    {AIPromptTemplate::build, "AI \u00B7 Build"},
    {AIPromptTemplate::fix, "AI \u00B7 Fix"},
    {AIPromptTemplate::refactor, "AI \u00B7 Refactor"},
    {AIPromptTemplate::ask, "AI \u00B7 Ask"},
}});

// The applications in which smart mode sends a dictation through the AI-prompt template: editors, IDEs and
// assistants, by the identifiers the identity table gives their Linux names. Matched exactly.
inline constexpr std::array<std::string_view, 13> kDevPromptApps = {
    "com.todesktop.230313mzl4w4u92", "com.microsoft.VSCode",           "dev.zed.Zed",
    "com.codeium.windsurf",          "com.anthropic.claudefordesktop", "com.openai.chat",
    "com.apple.dt.Xcode",            "com.jetbrains.pycharm",          "com.jetbrains.intellij",
    "com.jetbrains.WebStorm",        "com.jetbrains.CLion",            "com.jetbrains.datagrip",
    "com.google.android.studio",
};

// Whether smart mode picks the AI-prompt path for the application `bundleId` names.
[[nodiscard]] bool isDevPromptApp(std::string_view bundleId);

// The history mode of the alternative at `index`: "original" for the result itself, else its rewrite's label
// lower-cased, or "original" when the rewrite has no label.
[[nodiscard]] std::string historyModeOf(std::size_t index, const std::vector<std::string>& altLabels);

}  // namespace quillet::dictate
