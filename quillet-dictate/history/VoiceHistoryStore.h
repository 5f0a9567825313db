#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/runtime/Published.h"
#include "platform/Clock.h"
#include "platform/DefaultsStore.h"
#include "quillet-dictate/history/VoiceHistoryItem.h"
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

// The last 20 texts the user inserted or copied from the HUD, newest first, kept under one key of the
// settings store that the host reads too. Every change is saved at once and writes that key alone.
// Main thread only.
class VoiceHistoryStore {
 public:
  static constexpr std::string_view kKey = "vantix.voiceHistory.v1";
  static constexpr std::size_t kCap = 20;
  // The same text again within this many seconds of the newest entry is the same result (a copy, then an insert).
  static constexpr double kRepeatWindowSeconds = 30;

  // Loads the stored list; an unreadable one leaves the history empty, with a log line, until the next change.
  VoiceHistoryStore(platform::DefaultsStore& store, const platform::Clock& clock, const VxLog& log);

  Published<std::vector<VoiceHistoryItem>> items;

  // Adds `text`, trimmed, at the front with a new id and the time now, unless it is empty or repeats the
  // newest entry within 30 s; keeps the newest 20.
  void add(std::string_view text, std::optional<std::string> mode);
  // Removes every item with this id.
  void remove(std::string_view id);
  void clear();

 private:
  void load();
  // Stores `list` under the key, then publishes it: every change is saved at once.
  void replaceWith(std::vector<VoiceHistoryItem> list);

  platform::DefaultsStore& store_;
  const platform::Clock& clock_;
  const VxLog& log_;
};

}  // namespace quillet::dictate
