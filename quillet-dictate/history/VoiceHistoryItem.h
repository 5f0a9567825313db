#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace quillet::dictate {

// One text the user inserted or copied from the HUD.
struct VoiceHistoryItem {
  std::string id;  // a random UUID, upper-case canonical form
  std::chrono::system_clock::time_point timestamp;
  std::string text;  // trimmed of white space and line breaks
  // "original", a lower-cased rewrite label such as "grammar" or "ai · auto", or "writing".
  std::optional<std::string> mode;

  friend bool operator==(const VoiceHistoryItem&, const VoiceHistoryItem&) = default;
};

}  // namespace quillet::dictate
