#pragma once

#include "common/runtime/RawValueTable.h"

namespace quillet::dictate {

// How the action tab's intent is entered.
enum class ContextInputMode { write, voice };

inline constexpr RawValueTable<ContextInputMode, 2> kContextInputModeRawValues({{
    {ContextInputMode::write, "Write"},
    {ContextInputMode::voice, "Voice"},
}});

}  // namespace quillet::dictate
