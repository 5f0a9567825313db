#pragma once

#include <optional>

#include "platform/KeyMonitor.h"

namespace quillet::platform::fake {

// A key monitor the test presses keys into.
class FakeKeyMonitor final : public KeyMonitor {
 public:
  Status install(Handler newHandler) override {
    handler = std::move(newHandler);
    return {};
  }
  void remove() override { handler = nullptr; }

  [[nodiscard]] bool isInstalled() const { return bool(handler); }
  // Whether the installed handler consumed the press; nothing when no handler is installed.
  std::optional<bool> press(int keyCode) {
    if (!handler) return std::nullopt;
    return handler(keyCode);
  }

  Handler handler;
};

}  // namespace quillet::platform::fake
