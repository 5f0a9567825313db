#pragma once

#include "common/runtime/RawValueTable.h"

namespace quillet::dictate {

// The HUD's tabs; the raw values are their titles.
enum class HUDTab { writing, speak, action };

inline constexpr RawValueTable<HUDTab, 3> kHUDTabRawValues({{
    {HUDTab::writing, "Writing"},
    {HUDTab::speak, "Speak"},
    {HUDTab::action, "Action"},
}});

}  // namespace quillet::dictate
