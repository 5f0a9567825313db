#include "platform/fake/MemoryDefaultsStore.h"

namespace quillet::platform::fake {

std::optional<DefaultsValue> MemoryDefaultsStore::value(std::string_view key) const {
  std::lock_guard lock(mutex_);
  auto found = values_.find(key);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

Status MemoryDefaultsStore::set(std::string_view key, const DefaultsValue& value) {
  std::lock_guard lock(mutex_);
  values_.insert_or_assign(std::string(key), value);
  ++writeCount_;
  return succeeded();
}

Status MemoryDefaultsStore::setMany(const DefaultsEntries& entries) {
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : entries) values_.insert_or_assign(key, value);
  ++writeCount_;
  return succeeded();
}

Status MemoryDefaultsStore::remove(std::string_view key) {
  std::lock_guard lock(mutex_);
  if (auto found = values_.find(key); found != values_.end()) values_.erase(found);
  ++writeCount_;
  return succeeded();
}

std::size_t MemoryDefaultsStore::writeCount() const {
  std::lock_guard lock(mutex_);
  return writeCount_;
}

}  // namespace quillet::platform::fake
