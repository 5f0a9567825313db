#pragma once

#include "common/runtime/RawValueTable.h"

namespace quillet::dictate {

// How the cleanup function rewrites a transcript; sent and compared by raw value.
enum class CleanupMode { grammar, concise, professional, casual, custom };

inline constexpr RawValueTable<CleanupMode, 5> kCleanupModeRawValues({{
    {CleanupMode::grammar, "grammar"},
    {CleanupMode::concise, "concise"},
    {CleanupMode::professional, "professional"},
    {CleanupMode::casual, "casual"},
    {CleanupMode::custom, "custom"},
}});

}  // namespace quillet::dictate
