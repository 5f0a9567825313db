#pragma once

#include <any>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "common/runtime/ObserverList.h"

namespace quillet {

// In-process notifications by name ("vessio." names), delivered synchronously
// on the posting thread, like the platform's default notification center.
class NotificationCenter {
 public:
  using Handler = std::function<void(const std::any& object)>;

  // The process's default center.
  static NotificationCenter& shared();

  [[nodiscard]] Subscription addObserver(std::string_view name, Handler handler);

  void post(std::string_view name, const std::any& object = {});

 private:
  ObserverList<const std::any&>& observersFor(std::string_view name);

  std::mutex mutex_;
  std::map<std::string, ObserverList<const std::any&>, std::less<>> observersByName_;
};

}  // namespace quillet
