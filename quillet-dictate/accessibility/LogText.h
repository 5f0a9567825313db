#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/AXAttributeValue.h"
#include "platform/ScreenRect.h"

namespace quillet::dictate {

// "WxH@X,Y" with whole numbers: width, height, minimum x and minimum y, as the focus log shows rectangles.
[[nodiscard]] std::string describeRect(const platform::ScreenRect& rect);
[[nodiscard]] std::string describeRect(const platform::AXRect& rect);

// "true" or "false".
[[nodiscard]] std::string describeFlag(bool flag);

// The first `count` user-perceived characters of `text`, never a broken character.
[[nodiscard]] std::string leadingCharacters(std::string_view text, std::size_t count);

}  // namespace quillet::dictate
