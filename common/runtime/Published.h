#pragma once

#include <functional>
#include <mutex>
#include <utility>

#include "common/runtime/ObserverList.h"

namespace quillet {

// An observable value: every assignment reaches the observers, also when the
// value did not change. Reads are safe from any thread; assignments happen on the main thread.
template <class T>
class Published {
 public:
  // `afterAssign` runs on every assignment before the observers hear of it (persistence, notifications).
  explicit Published(T initial, std::function<void(const T&)> afterAssign = {})
      : value_(std::move(initial)), afterAssign_(std::move(afterAssign)) {}

  Published(const Published&) = delete;
  Published& operator=(const Published&) = delete;

  [[nodiscard]] T get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }

  void set(T newValue) {
    {
      std::lock_guard lock(mutex_);
      value_ = newValue;
    }
    if (afterAssign_) afterAssign_(newValue);
    observers_.notify(newValue);
  }

  // `observer` receives the new value on every assignment, on the assigning thread.
  [[nodiscard]] Subscription observe(std::function<void(const T&)> observer) {
    return observers_.add(std::move(observer));
  }

 private:
  mutable std::mutex mutex_;
  T value_;
  std::function<void(const T&)> afterAssign_;
  ObserverList<const T&> observers_;
};

}  // namespace quillet
