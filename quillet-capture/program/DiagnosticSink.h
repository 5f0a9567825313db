#pragma once

#include <functional>
#include <string_view>

namespace quillet::capture {

// Where one-line diagnostics go: each line begins with a bracketed tag ("[stdin] ") and ends in a
// line feed. Called from any thread; production writes to standard error, tests collect the lines.
using DiagnosticSink = std::function<void(std::string_view line)>;

// Writes `line` to standard error in one piece; a closed standard error loses it quietly.
void writeToStandardError(std::string_view line);

}  // namespace quillet::capture
