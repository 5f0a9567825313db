#include "common/runtime/NotificationCenter.h"

namespace quillet {

NotificationCenter& NotificationCenter::shared() {
  static NotificationCenter center;
  return center;
}

ObserverList<const std::any&>& NotificationCenter::observersFor(std::string_view name) {
  std::lock_guard lock(mutex_);
  auto found = observersByName_.find(name);
  if (found == observersByName_.end()) found = observersByName_.emplace(std::string(name), ObserverList<const std::any&>{}).first;
  // Map nodes are stable, so the reference outlives the lock.
  return found->second;
}

Subscription NotificationCenter::addObserver(std::string_view name, Handler handler) {
  return observersFor(name).add(std::move(handler));
}

void NotificationCenter::post(std::string_view name, const std::any& object) {
  observersFor(name).notify(object);
}

}  // namespace quillet
