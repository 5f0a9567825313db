#pragma once

#include <optional>
#include <vector>

#include "platform/KeyboardTap.h"

namespace quillet::platform::fake {

// A keyboard the test types on; it remembers what it was asked to swallow.
class FakeKeyboardTap final : public KeyboardTap {
 public:
  Status start(Handler newHandler) override {
    if (startError) return *startError;
    handler = std::move(newHandler);
    return {};
  }
  void stop() override { handler = nullptr; }
  Status swallow(std::vector<SwallowedKey> keys) override {
    swallowed = std::move(keys);
    ++swallowCalls;
    if (swallowError) return *swallowError;
    return {};
  }
  [[nodiscard]] bool hasFnKey() const override { return fnKey; }

  // The handler's verdict, or nothing when the tap is not started.
  std::optional<KeyVerdict> send(const KeyEvent& event) {
    if (!handler) return std::nullopt;
    return handler(event);
  }

  Handler handler;
  std::vector<SwallowedKey> swallowed;
  int swallowCalls = 0;
  bool fnKey = true;
  std::optional<Error> startError;
  std::optional<Error> swallowError;
};

}  // namespace quillet::platform::fake
