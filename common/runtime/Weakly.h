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

}  // namespace quillet
