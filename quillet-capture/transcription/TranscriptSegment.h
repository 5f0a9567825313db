#pragma once

#include <cstdint>
#include <string>

namespace quillet::capture {

// A piece of one window's transcript; times in milliseconds from the window's start, or -1 when unknown.
struct TranscriptSegment {
  std::string text;
  std::int64_t startMs = -1;
  std::int64_t endMs = -1;

  bool operator==(const TranscriptSegment&) const = default;
};

}  // namespace quillet::capture
