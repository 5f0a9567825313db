#pragma once

#include <cassert>
#include <concepts>
#include <optional>
#include <ostream>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace quillet {

// Why an operation failed, in words a log line or an error event can carry as they are.
class [[nodiscard]] Error {
 public:
  explicit Error(std::string description) : description_(std::move(description)) {}

  [[nodiscard]] const std::string& description() const { return description_; }

  friend bool operator==(const Error&, const Error&) = default;
  friend std::ostream& operator<<(std::ostream& stream, const Error& error) {
    return stream << "error \"" << error.description_ << '"';
  }

 private:
  std::string description_;
};

// A value or the reason there is none. The reason is an `Error` unless a layer needs a richer one (a
// transport failure with its kind, an accessibility error code): that layer names its own `E`, and the
// shape of the result stays the same everywhere. It has no conversion to bool on purpose: a caller says
// which side it asks about (`hasValue()` or `failed()`), so a result can never be read the wrong way round.
template <class T, class E = Error>
class [[nodiscard]] Expected {
  static_assert(!std::is_same_v<std::remove_cv_t<T>, E>, "an error is not a value");

 public:
  Expected(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: a value is a success
  template <class U>
    requires(std::is_constructible_v<T, U &&> && !std::is_same_v<std::remove_cvref_t<U>, T> &&
             !std::is_same_v<std::remove_cvref_t<U>, E> && !std::is_same_v<std::remove_cvref_t<U>, Expected>)
  explicit(!std::is_convertible_v<U&&, T>) Expected(U&& value)  // NOLINT: a value is a success
      : state_(std::in_place_index<0>, std::forward<U>(value)) {}
  Expected(E error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: an error is a failure

  [[nodiscard]] bool hasValue() const { return state_.index() == 0; }
  [[nodiscard]] bool failed() const { return state_.index() == 1; }

  [[nodiscard]] const T& value() const& {
    assert(hasValue());
    return std::get<0>(state_);
  }
  [[nodiscard]] T& value() & {
    assert(hasValue());
    return std::get<0>(state_);
  }
  [[nodiscard]] T&& value() && {
    assert(hasValue());
    return std::get<0>(std::move(state_));
  }
  [[nodiscard]] const E& error() const& {
    assert(failed());
    return std::get<1>(state_);
  }
  [[nodiscard]] E&& error() && {
    assert(failed());
    return std::get<1>(std::move(state_));
  }

  // The value, or `fallback` when there is none: for callers whose fallback is part of the behaviour.
  [[nodiscard]] T valueOr(T fallback) const& { return hasValue() ? value() : std::move(fallback); }
  [[nodiscard]] T valueOr(T fallback) && { return hasValue() ? std::move(*this).value() : std::move(fallback); }

  // The value as an optional, for callers for whom a failure only means "nothing here".
  [[nodiscard]] std::optional<T> toOptional() && {
    if (failed()) return std::nullopt;
    return std::move(*this).value();
  }

  friend bool operator==(const Expected&, const Expected&)
    requires std::equality_comparable<T> && std::equality_comparable<E>
  = default;

 private:
  std::variant<T, E> state_;
};

// Success, or the reason for the failure, for operations that give nothing back.
template <class E>
class [[nodiscard]] Expected<void, E> {
 public:
  Expected() = default;
  Expected(E error) : error_(std::move(error)) {}  // NOLINT: an error is a failure

  [[nodiscard]] bool hasValue() const { return !error_.has_value(); }
  [[nodiscard]] bool failed() const { return error_.has_value(); }
  [[nodiscard]] const E& error() const& {
    assert(failed());
    return *error_;
  }
  [[nodiscard]] E&& error() && {
    assert(failed());
    return *std::move(error_);
  }

  friend bool operator==(const Expected&, const Expected&)
    requires std::equality_comparable<E>
  = default;
  // Test failures then show the reason instead of the object's bytes.
  friend std::ostream& operator<<(std::ostream& stream, const Expected& status)
    requires requires(std::ostream& out, const E& error) { out << error; }
  {
    if (status.failed()) return stream << status.error();
    return stream << "success";
  }

 private:
  std::optional<E> error_;
};

using Status = Expected<void>;

// The success of a `Status`, named so a return statement reads as what it means.
inline Status succeeded() { return Status(); }

}  // namespace quillet
