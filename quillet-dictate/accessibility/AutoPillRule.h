#pragma once

#include <string>
#include <vector>

#include "platform/ScreenRect.h"
#include "platform/Screens.h"

namespace quillet::dictate {

// What the capsule rule needs to know about a focused field, read once from the accessibility tree.
struct PillFacts {
  std::string bundleId{};
  std::string role{};
  std::string subrole{};
  std::string text{};
  std::string placeholder{};
  std::string title{};
  std::string help{};
  std::string description{};
  bool browser = false;
  bool simpleDecoration = false;
};

// Whether the capsule may appear by itself beside a field with `frame` (screen coordinates): fields
// must be large enough and on a screen; in browsers only right after a click (`recentClick`) and only
// for fields that read like places to write; elsewhere wide text fields and every other editable kind.
[[nodiscard]] bool shouldShowPillCore(const PillFacts& facts, const platform::ScreenRect& frame,
                                      const std::vector<platform::Screen>& screens, bool recentClick);

}  // namespace quillet::dictate
