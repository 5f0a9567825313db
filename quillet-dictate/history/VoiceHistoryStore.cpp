#include "quillet-dictate/history/VoiceHistoryStore.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "common/text/UnicodeText.h"
#include "common/text/UuidString.h"
#include "quillet-dictate/history/VoiceHistoryJson.h"

namespace quillet::dictate {

VoiceHistoryStore::VoiceHistoryStore(platform::DefaultsStore& store, const platform::Clock& clock, const VxLog& log)
    : items({}), store_(store), clock_(clock), log_(log) {
  load();
}

void VoiceHistoryStore::add(std::string_view text, std::optional<std::string> mode) {
  std::string trimmed = text::trimmedWhitespaceAndNewlines(text);
  if (trimmed.empty()) return;
  std::vector<VoiceHistoryItem> list = items.get();
  const auto now = clock_.wallNow();
  if (!list.empty() && list.front().text == trimmed &&
      now - list.front().timestamp < std::chrono::duration<double>(kRepeatWindowSeconds)) {
    return;
  }
  std::vector<VoiceHistoryItem> updated;
  updated.reserve(kCap);
  updated.push_back(VoiceHistoryItem{text::newUuidString(), now, std::move(trimmed), std::move(mode)});
  for (auto& item : list) {
    if (updated.size() == kCap) break;
    updated.push_back(std::move(item));
  }
  replaceWith(std::move(updated));
}

void VoiceHistoryStore::remove(std::string_view id) {
  std::vector<VoiceHistoryItem> list = items.get();
  std::erase_if(list, [id](const VoiceHistoryItem& item) { return item.id == id; });
  replaceWith(std::move(list));
}

void VoiceHistoryStore::clear() { replaceWith({}); }

void VoiceHistoryStore::load() {
  const auto stored = store_.dataValue(kKey);
  if (!stored) return;
  auto decoded = VoiceHistoryJson::decoded(*stored);
  if (decoded.failed()) {
    // The stored value stays as it is until the next change overwrites it.
    log_.log("🕒 history decode failed: " + decoded.error().description());
    return;
  }
  items.set(std::move(decoded).value());
}

void VoiceHistoryStore::replaceWith(std::vector<VoiceHistoryItem> list) {
  // The store reports a refused write itself; the list still holds for this run.
  (void)store_.set(kKey, VoiceHistoryJson::encoded(list));
  items.set(std::move(list));
}

}  // namespace quillet::dictate
