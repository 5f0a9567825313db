#pragma once

#include <string_view>

namespace quillet::capture {

// Whose voice a transcript or audio file carries.
enum class Speaker {
  you,     // the microphone
  others,  // the meeting application's audio
};

// The JSON string the host reads: "you" or "others".
[[nodiscard]] std::string_view rawValue(Speaker speaker);

}  // namespace quillet::capture
