#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/result/Expected.h"

namespace quillet::platform {

using DefaultsData = std::vector<std::uint8_t>;

// One stored value; its type is kept with it, so a reader asking for another type finds nothing.
using DefaultsValue = std::variant<std::string, bool, std::int64_t, double, DefaultsData>;

// Values to store together; a key given twice keeps its later value.
using DefaultsEntries = std::vector<std::pair<std::string, DefaultsValue>>;

// The user-defaults domain shared with the host: typed values under string keys.
// A write never leaves part of itself behind; the host may write other keys at the same time.
class DefaultsStore {
 public:
  virtual ~DefaultsStore() = default;

  [[nodiscard]] virtual std::optional<DefaultsValue> value(std::string_view key) const = 0;

  // Succeeds when the value was accepted. An accepted value reads back from this store at once, even
  // where the adapter makes it durable a moment later; a refused one (such as a NaN) leaves the key as it was.
  virtual Status set(std::string_view key, const DefaultsValue& value) = 0;

  // Stores every entry in one write, so a reader never sees some of them without the others.
  // Fails, and stores none of them, when one of them could not be stored.
  virtual Status setMany(const DefaultsEntries& entries) = 0;

  // Fails when the removal was refused (a missing key is removed already).
  virtual Status remove(std::string_view key) = 0;

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
