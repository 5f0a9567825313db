#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <utility>

namespace quillet {

// A map that keeps only its `capacity` most recently written or read entries, for caches keyed by names
// that come and go (an application's bus name is never used again once it leaves), so the cache cannot grow
// for as long as the session lasts.
template <class Key, class Value>
class RecentMap {
 public:
  explicit RecentMap(std::size_t capacity) : capacity_(capacity < 1 ? 1 : capacity) {}

  // The value under `key`, which becomes the most recent; nothing when absent.
  [[nodiscard]] const Value* find(const Key& key) {
    const auto found = entries_.find(key);
    if (found == entries_.end()) return nullptr;
    touch(found->second.second);
    return &found->second.first;
  }

  // Stores `value` under `key` as the most recent entry, forgetting the least recent one beyond capacity.
  void set(const Key& key, Value value) {
    if (const auto found = entries_.find(key); found != entries_.end()) {
      found->second.first = std::move(value);
      touch(found->second.second);
      return;
    }
    recency_.push_front(key);
    entries_.emplace(key, std::make_pair(std::move(value), recency_.begin()));
    if (entries_.size() > capacity_) {
      entries_.erase(recency_.back());
      recency_.pop_back();
    }
  }

  [[nodiscard]] std::size_t size() const { return entries_.size(); }

 private:
  using Recency = typename std::list<Key>::iterator;

  void touch(Recency position) { recency_.splice(recency_.begin(), recency_, position); }

  std::size_t capacity_;
  std::list<Key> recency_;  // most recent first
  std::map<Key, std::pair<Value, Recency>> entries_;
};

}  // namespace quillet
