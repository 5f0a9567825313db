#pragma once

#include "common/runtime/RawValueTable.h"

namespace quillet::dictate {

// The writing tab's styles.
enum class WritingStylePreset { original, clean, professional, casual, concise };

inline constexpr RawValueTable<WritingStylePreset, 5> kWritingStylePresetRawValues({{
    {WritingStylePreset::original, "original"},
    {WritingStylePreset::clean, "clean"},
    {WritingStylePreset::professional, "professional"},
    {WritingStylePreset::casual, "casual"},
    {WritingStylePreset::concise, "concise"},
}});

}  // namespace quillet::dictate
