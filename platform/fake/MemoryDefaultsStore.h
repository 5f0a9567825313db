#pragma once

#include <map>
#include <mutex>
#include <string>

#include "platform/DefaultsStore.h"

namespace quillet::platform::fake {

// A defaults store held in memory; tests seed it and read back what was written.
class MemoryDefaultsStore final : public DefaultsStore {
 public:
  std::optional<DefaultsValue> value(std::string_view key) const override;
  Status set(std::string_view key, const DefaultsValue& value) override;
  Status setMany(const DefaultsEntries& entries) override;
  Status remove(std::string_view key) override;

  [[nodiscard]] bool contains(std::string_view key) const { return value(key).has_value(); }
  // How many writes (sets, removals and groups stored with setMany, each counted once) reached the store.
  [[nodiscard]] std::size_t writeCount() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, DefaultsValue, std::less<>> values_;
  std::size_t writeCount_ = 0;
};

}  // namespace quillet::platform::fake
