#pragma once

#include <string>

namespace quillet::capture {

// A sample rate as diagnostic lines show it: a decimal number that always has a fractional part,
// "48000.0" or "22050.5".
[[nodiscard]] std::string sampleRateText(double rate);

}  // namespace quillet::capture
