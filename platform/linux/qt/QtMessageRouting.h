#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quillet::platform::qt {

// Qt writes its own warnings ("This plugin does not support raise()") straight to standard error, untagged.
// Routing them here hands each line of each message to `sink` as "<tag><line>\n", so a program whose
// standard error carries only tagged lines keeps it that way. A later call replaces the sink; call it
// before the application object exists to catch what Qt says while it starts.
void routeQtMessages(std::function<void(std::string_view line)> sink, std::string tag = "[qt] ");

}  // namespace quillet::platform::qt
