#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quillet::platform {

using DefaultsData = std::vector<std::uint8_t>;

// One stored value; its type is kept with it, so a reader asking for another type finds nothing.
using DefaultsValue = std::variant<std::string, bool, std::int64_t, double, DefaultsData>;

// The user-defaults domain shared with the host: typed values under string keys.
// Each write is durable on its own; the host may write other keys at the same time.
class DefaultsStore {
 public:
  virtual ~DefaultsStore() = default;

  [[nodiscard]] virtual std::optional<DefaultsValue> value(std::string_view key) const = 0;

  // Answers false when the value could not be stored.
  virtual bool set(std::string_view key, const DefaultsValue& value) = 0;

  // Answers false when the key could not be removed (a missing key is removed already).
  virtual bool remove(std::string_view key) = 0;

  // Typed reads: a value stored with another type reads as absent.
  [[nodiscard]] std::optional<std::string> stringValue(std::string_view key) const { return typed<std::string>(key); }
  [[nodiscard]] std::optional<bool> boolValue(std::string_view key) const { return typed<bool>(key); }
  [[nodiscard]] std::optional<std::int64_t> integerValue(std::string_view key) const { return typed<std::int64_t>(key); }
  [[nodiscard]] std::optional<double> doubleValue(std::string_view key) const { return typed<double>(key); }
  [[nodiscard]] std::optional<DefaultsData> dataValue(std::string_view key) const { return typed<DefaultsData>(key); }

 private:
  template <class T>
  [[nodiscard]] std::optional<T> typed(std::string_view key) const {
    auto stored = value(key);
    if (!stored) return std::nullopt;
    if (auto* held = std::get_if<T>(&*stored)) return std::move(*held);
    return std::nullopt;
  }
};

}  // namespace quillet::platform
