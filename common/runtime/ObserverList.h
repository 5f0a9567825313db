#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace quillet {

// Keeps an observation alive; destroying or resetting it removes the observer.
class Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> remover) : remover_(std::move(remover)) {}
  Subscription(Subscription&& other) noexcept : remover_(std::exchange(other.remover_, nullptr)) {}
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      reset();
      remover_ = std::exchange(other.remover_, nullptr);
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  ~Subscription() { reset(); }

  void reset() {
    if (auto remover = std::exchange(remover_, nullptr)) remover();
  }

 private:
  std::function<void()> remover_;
};

// Observers of one kind of event. Notifying calls each observer on the
// notifying thread, outside the lock, so an observer may add or remove observers.
template <class... Args>
class ObserverList {
 public:
  using Observer = std::function<void(Args...)>;

  ObserverList() : state_(std::make_shared<State>()) {}

  [[nodiscard]] Subscription add(Observer observer) {
    std::uint64_t id = 0;
    {
      std::lock_guard lock(state_->mutex);
      id = ++state_->lastId;
      state_->entries.push_back({id, std::make_shared<Observer>(std::move(observer))});
    }
    return Subscription([weakState = std::weak_ptr<State>(state_), id] {
      auto state = weakState.lock();
      if (!state) return;
      std::lock_guard lock(state->mutex);
      std::erase_if(state->entries, [id](const Entry& entry) { return entry.id == id; });
    });
  }

  void notify(Args... args) const {
    std::vector<std::shared_ptr<Observer>> observers;
    {
      std::lock_guard lock(state_->mutex);
      observers.reserve(state_->entries.size());
      for (const auto& entry : state_->entries) observers.push_back(entry.observer);
    }
    for (const auto& observer : observers) (*observer)(args...);
  }

  [[nodiscard]] std::size_t size() const {
    std::lock_guard lock(state_->mutex);
    return state_->entries.size();
  }

 private:
  struct Entry {
    std::uint64_t id;
    std::shared_ptr<Observer> observer;
  };
  struct State {
    mutable std::mutex mutex;
    std::uint64_t lastId = 0;
    std::vector<Entry> entries;
  };
  std::shared_ptr<State> state_;
};

}  // namespace quillet
