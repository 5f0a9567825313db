#include "common/text/Base64.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace quillet::text {
namespace {

struct EncodingCase {
  std::string_view bytes;
  std::string_view encoded;
};

// The test vectors of RFC 4648 section 10, which cover no, one and two padding characters.
const EncodingCase kStandardVectors[] = {
    {"", ""},           {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
};

TEST(Base64Test, EncodesAndDecodesTheStandardVectors) {
  for (const auto& [bytes, encoded] : kStandardVectors) {
    EXPECT_EQ(encodedBase64(bytes), encoded) << bytes;
    EXPECT_EQ(decodedBase64(encoded), Expected<std::string>(bytes)) << encoded;
  }
}

TEST(Base64Test, DecodesEveryByteValueAndBothExtraDigits) {
  std::string allBytes;
  for (int value = 0; value < 256; ++value) allBytes += static_cast<char>(value);
  EXPECT_EQ(decodedBase64(encodedBase64(allBytes)), Expected<std::string>(allBytes));
  EXPECT_EQ(decodedBase64("+/+/"), Expected<std::string>("\xFB\xFF\xBF"));
}

TEST(Base64Test, RefusesTextThatIsNotStrictBase64) {
  struct Case {
    std::string_view name;
    std::string_view encoded;
  };
  const Case cases[] = {
      {"one character", "Z"},
      {"length two without padding", "Zg"},
      {"length five", "Zm9vY"},
      {"padding that breaks the length", "Zm9vY="},
      {"three padding characters", "Z==="},
      {"padding only", "===="},
      {"padding in the middle", "Zg==Zm9v"},
      {"padding between digits", "Zm=v"},
      {"url-safe minus", "Zm9-"},
      {"url-safe underscore", "Zm9_"},
      {"space", "Zm9 "},
      {"line break", "Zm9v\nZm9v"},
      {"non-ASCII byte", "Zm9\xC3"},
      {"NUL byte", std::string_view("Zm9\0", 4)},
  };
  for (const auto& [name, encoded] : cases) {
    EXPECT_TRUE(decodedBase64(encoded).failed()) << name;
  }
}

TEST(Base64Test, IgnoresTheUnusedBitsOfAPaddedLastGroup) {
  struct Case {
    std::string_view name;
    std::string_view encoded;
    std::string_view bytes;
  };
  // "Zh==" and "Zm9=" carry non-zero bits that no byte uses; the canonical forms are "Zg==" and "Zm8=".
  const Case cases[] = {
      {"two padding characters", "Zh==", "f"},
      {"one padding character", "Zm9=", "fo"},
  };
  for (const auto& [name, encoded, bytes] : cases) {
    EXPECT_EQ(decodedBase64(encoded), Expected<std::string>(bytes)) << name;
  }
}

}  // namespace
}  // namespace quillet::text
