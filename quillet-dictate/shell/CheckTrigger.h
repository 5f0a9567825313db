#pragma once

#include <optional>

#include "common/runtime/RawValueTable.h"

namespace quillet::dictate {

// When the grammar capsule checks the focused field's text; persisted by raw value.
enum class CheckTrigger { manual, onPause500ms, onPause800ms, onPause2s, onPause5s };

inline constexpr RawValueTable<CheckTrigger, 5> kCheckTriggerRawValues({{
    {CheckTrigger::manual, "manual"},
    {CheckTrigger::onPause500ms, "pause_500ms"},
    {CheckTrigger::onPause800ms, "pause_800ms"},
    {CheckTrigger::onPause2s, "pause_2s"},
    {CheckTrigger::onPause5s, "pause_5s"},
}});

// The pause after the last text change before a check runs, in seconds; none for manual.
std::optional<double> debounceSeconds(CheckTrigger trigger);

}  // namespace quillet::dictate
