#pragma once

#include "common/runtime/RawValueTable.h"

namespace quillet::dictate {

// The HUD's prompt templates, offered in this order; sent as the cleanup mode by raw value.
// The "auto" template is spelled `automatic` because `auto` is a C++ keyword.
enum class AIPromptTemplate { automatic, build, fix, refactor, ask };

inline constexpr RawValueTable<AIPromptTemplate, 5> kAIPromptTemplateRawValues({{
    {AIPromptTemplate::automatic, "auto"},
    {AIPromptTemplate::build, "build"},
    {AIPromptTemplate::fix, "fix"},
    {AIPromptTemplate::refactor, "refactor"},
    {AIPromptTemplate::ask, "ask"},
}});

}  // namespace quillet::dictate
