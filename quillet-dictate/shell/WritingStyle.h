#pragma once

#include <string_view>

#include "common/runtime/RawValueTable.h"

namespace quillet::dictate {

// How far the AI may go when it polishes the user's text; persisted by raw value.
enum class WritingStyle { originalVoice, clear, professional, casual, concise };

inline constexpr RawValueTable<WritingStyle, 5> kWritingStyleRawValues({{
    {WritingStyle::originalVoice, "original_voice"},
    {WritingStyle::clear, "clear"},
    {WritingStyle::professional, "professional"},
    {WritingStyle::casual, "casual"},
    {WritingStyle::concise, "concise"},
}});

// The line the settings view shows under the "Writing style" card.
std::string_view subtitle(WritingStyle style);

}  // namespace quillet::dictate
