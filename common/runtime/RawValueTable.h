#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>

namespace quillet {

// The string raw values of an enumeration that is persisted or sent as text.
template <class Enum, std::size_t Count>
class RawValueTable {
 public:
  constexpr explicit RawValueTable(std::array<std::pair<Enum, std::string_view>, Count> entries) : entries_(entries) {}

  [[nodiscard]] constexpr std::string_view rawValue(Enum value) const {
    for (const auto& [candidate, raw] : entries_) {
      if (candidate == value) return raw;
    }
    return {};
  }

  // The case whose raw value is exactly `raw`, if any.
  [[nodiscard]] constexpr std::optional<Enum> from(std::string_view raw) const {
    for (const auto& [candidate, candidateRaw] : entries_) {
      if (candidateRaw == raw) return candidate;
    }
    return std::nullopt;
  }

  // Every case, in declaration order.
  [[nodiscard]] constexpr std::array<Enum, Count> allCases() const {
    std::array<Enum, Count> cases{};
    for (std::size_t index = 0; index < Count; ++index) cases[index] = entries_[index].first;
    return cases;
  }

 private:
  std::array<std::pair<Enum, std::string_view>, Count> entries_;
};

}  // namespace quillet
