#pragma once

#include <memory>
#include <utility>

namespace quillet {

// Wraps `action(target, args...)` in a callback that holds `target` weakly and
// does nothing once it is gone, so delayed blocks never keep an object alive.
template <class Target, class Action>
auto weakly(const std::shared_ptr<Target>& target, Action action) {
  return [weakTarget = std::weak_ptr<Target>(target), action = std::move(action)](auto&&... args) {
    if (auto strongTarget = weakTarget.lock()) action(*strongTarget, std::forward<decltype(args)>(args)...);
  };
}

// For an object owned by value rather than through a shared_ptr: it keeps a Lifetime as its last member, so
// the Lifetime ends first, and each callback that may outlive it captures a watch and returns at once when
// `ended()`. Callbacks so guarded must run on the thread that destroys the object (its main loop), or the
// check could race with the destruction.
class Lifetime {
 public:
  class Watch {
   public:
    [[nodiscard]] bool ended() const { return token_.expired(); }

   private:
    friend class Lifetime;
    explicit Watch(std::weak_ptr<const bool> token) : token_(std::move(token)) {}
    std::weak_ptr<const bool> token_;
  };

  Lifetime() = default;
  Lifetime(const Lifetime&) = delete;
  Lifetime& operator=(const Lifetime&) = delete;

  [[nodiscard]] Watch watch() const { return Watch(token_); }

 private:
  std::shared_ptr<const bool> token_ = std::make_shared<const bool>(true);
};

}  // namespace quillet
