#pragma once

#include <vector>

#include "common/result/Expected.h"
#include "platform/DefaultsStore.h"
#include "quillet-dictate/history/VoiceHistoryItem.h"

namespace quillet::dictate {

// The stored form of the history, which the host reads too: a compact UTF-8 JSON array of objects with the
// keys "id", "timestamp", "text" and "mode" in that order ("mode" left out when there is none), timestamps
// as internet date-times in whole seconds with a "Z" suffix.
class VoiceHistoryJson {
 public:
  // Never fails: a text that is not UTF-8 (which no transcript is) is written with U+FFFD in place of its
  // ill-formed bytes, so the host's reader always gets a list it can decode.
  [[nodiscard]] static platform::DefaultsData encoded(const std::vector<VoiceHistoryItem>& items);

  // The items as stored, neither re-sorted nor trimmed; fails as a whole when one item is malformed
  // (no "id", "timestamp" or "text", a member of the wrong type, a timestamp with a fraction of a second).
  [[nodiscard]] static Expected<std::vector<VoiceHistoryItem>> decoded(const platform::DefaultsData& data);
};

}  // namespace quillet::dictate
