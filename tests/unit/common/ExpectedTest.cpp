#include "common/result/Expected.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>

namespace quillet {
namespace {

// A result must be asked which side it holds: neither form turns into a bool, so the old habit of
// `if (auto error = start())` cannot compile against a result and silently mean the opposite.
static_assert(!std::is_constructible_v<bool, Expected<int>>);
static_assert(!std::is_constructible_v<bool, Status>);
static_assert(!std::is_convertible_v<Error, std::string>);

Expected<int> parsedDigit(char character) {
  if (character < '0' || character > '9') return Error("not a digit: " + std::string(1, character));
  return character - '0';
}

TEST(ExpectedTest, HoldsEitherTheValueOrTheError) {
  const auto digit = parsedDigit('7');
  ASSERT_TRUE(digit.hasValue());
  EXPECT_FALSE(digit.failed());
  EXPECT_EQ(digit.value(), 7);
  EXPECT_EQ(digit.valueOr(-1), 7);

  const auto letter = parsedDigit('x');
  ASSERT_TRUE(letter.failed());
  EXPECT_FALSE(letter.hasValue());
  EXPECT_EQ(letter.error().description(), "not a digit: x");
  EXPECT_EQ(letter.valueOr(-1), -1);
  EXPECT_NE(digit, letter);
  EXPECT_EQ(letter, Expected<int>(Error("not a digit: x")));
}

TEST(ExpectedTest, MovesItsValueOutWithoutCopying) {
  Expected<std::unique_ptr<std::string>> owned = std::make_unique<std::string>("kept");
  const std::string* address = owned.value().get();
  const std::unique_ptr<std::string> taken = std::move(owned).value();
  EXPECT_EQ(taken.get(), address);

  Expected<std::string> text = "from a literal";
  EXPECT_EQ(std::move(text).toOptional(), std::optional<std::string>("from a literal"));
  Expected<std::string> missing = Error("gone");
  EXPECT_EQ(std::move(missing).toOptional(), std::nullopt);
}

TEST(ExpectedTest, StatusIsSuccessUnlessItCarriesAnError) {
  EXPECT_TRUE(succeeded().hasValue());
  EXPECT_TRUE(Status().hasValue());
  const Status failure = Error("microphone: device busy");
  ASSERT_TRUE(failure.failed());
  EXPECT_EQ(failure.error().description(), "microphone: device busy");
  EXPECT_NE(failure, succeeded());
}

// A layer's own reason, richer than a sentence.
struct TransferFailure {
  enum class Kind { refused, timedOut } kind;
  std::string detail;
  friend bool operator==(const TransferFailure&, const TransferFailure&) = default;
};

TEST(ExpectedTest, ALayerMayNameItsOwnErrorTypeAndGetItBackWhole) {
  static_assert(!std::is_constructible_v<bool, Expected<int, TransferFailure>>);
  static_assert(!std::is_constructible_v<bool, Expected<void, TransferFailure>>);

  Expected<std::string, TransferFailure> answer = TransferFailure{TransferFailure::Kind::timedOut, "after 5 s"};
  ASSERT_TRUE(answer.failed());
  EXPECT_EQ(answer.error().kind, TransferFailure::Kind::timedOut);
  const TransferFailure taken = std::move(answer).error();
  EXPECT_EQ(taken.detail, "after 5 s");

  Expected<std::string, TransferFailure> body = std::string("ok");
  EXPECT_EQ(body.valueOr("fallback"), "ok");

  const Expected<void, TransferFailure> done;
  const Expected<void, TransferFailure> refused = TransferFailure{TransferFailure::Kind::refused, ""};
  EXPECT_TRUE(done.hasValue());
  EXPECT_TRUE(refused.failed());
  EXPECT_NE(done, refused);
  EXPECT_EQ(refused, (Expected<void, TransferFailure>(TransferFailure{TransferFailure::Kind::refused, ""})));
}

}  // namespace
}  // namespace quillet
