#pragma once

#include <optional>
#include <vector>

#include "platform/KeyboardTap.h"

namespace quillet::platform::fake {

// A keyboard the test types on; it remembers what it was asked to swallow.
class FakeKeyboardTap final : public KeyboardTap {
 public:
  Status start(Handler newHandler, Notice newNotice) override {
    if (startError) return *startError;
    handler = std::move(newHandler);
    notice = std::move(newNotice);
    return {};
  }
  void stop() override { handler = nullptr; }
  // Answers at once, as a tap whose grabs take no time.
  void swallow(std::vector<SwallowedKey> keys, std::function<void(Status)> done) override {
    swallowed = std::move(keys);
    if (!done) return;
    if (swallowError) {
      done(*swallowError);
    } else {
      done({});
    }
  }
  [[nodiscard]] bool hasFnKey() const override { return fnKey; }

  // The handler's verdict, or nothing when the tap is not started.
  std::optional<KeyVerdict> send(const KeyEvent& event) {
    if (!handler) return std::nullopt;
    return handler(event);
  }

  Handler handler;
  Notice notice;
  std::vector<SwallowedKey> swallowed;
  bool fnKey = true;
  std::optional<Error> startError;
  std::optional<Error> swallowError;
};

}  // namespace quillet::platform::fake
