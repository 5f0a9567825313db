#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "common/result/Expected.h"

// Internet date-times (RFC 3339) in whole seconds, as stored values carry them: "2025-03-01T09:30:05Z".
namespace quillet::text {

// `time` in UTC with a "Z" suffix, its fraction of a second dropped.
std::string internetDateTime(std::chrono::system_clock::time_point time);

// The time a date-time with a "Z" or "±hh:mm" offset stands for. A fraction of a second, a missing offset or
// a field out of its range is not a date-time this reads.
Expected<std::chrono::system_clock::time_point> parsedInternetDateTime(std::string_view text);

}  // namespace quillet::text
