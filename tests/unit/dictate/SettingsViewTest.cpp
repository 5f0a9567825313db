#include "quillet-dictate/hud/SettingsView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "common/text/Base64.h"

namespace quillet::dictate {
namespace {

// Base64url without padding, the way tokens carry their pieces.
std::string base64url(std::string_view bytes) {
  std::string encoded = text::encodedBase64(bytes);
  std::replace(encoded.begin(), encoded.end(), '+', '-');
  std::replace(encoded.begin(), encoded.end(), '/', '_');
  encoded.erase(encoded.find_last_not_of('=') + 1);
  return encoded;
}

const std::string kHeader = base64url(R"({"alg":"HS256","typ":"JWT"})");
const std::string kSignature = "c2lnbmF0dXJl";

std::string token(std::string_view payload) { return kHeader + "." + base64url(payload) + "." + kSignature; }

TEST(SettingsViewTest, EmailFromJWTReadsTheEmailClaim) {
  struct Case {
    std::string_view name;
    std::string token;
    std::string_view email;
  };
  // These bytes encode to Base64 with both "+" and "/", which Base64url writes as "-" and "_".
  const std::string urlSafePayload = R"({"email":"ada@example.com","n":"???>>>"})";
  const std::string urlSafeToken = token(urlSafePayload);
  const Case cases[] = {
      {"no padding needed", token(R"({"email":"a@b.io"})"), "a@b.io"},
      {"two padding characters dropped", token(R"({"email":"ab@b.io"})"), "ab@b.io"},
      {"one padding character dropped", token(R"({"email":"abc@b.io"})"), "abc@b.io"},
      {"url-safe digits", urlSafeToken, "ada@example.com"},
      {"other claims around it", token(R"({"sub":"42","email":"ada@example.com","role":"authenticated"})"),
       "ada@example.com"},
      {"non-ASCII e-mail", token(R"({"email":"zoë@example.com"})"), "zoë@example.com"},
      {"empty pieces dropped", kHeader + ".." + base64url(R"({"email":"a@b.io"})") + "." + kSignature + ".",
       "a@b.io"},
      {"leading separator", "." + token(R"({"email":"a@b.io"})"), "a@b.io"},
  };
  const std::string encodedUrlSafePayload = base64url(urlSafePayload);
  ASSERT_NE(encodedUrlSafePayload.find('-'), std::string::npos) << encodedUrlSafePayload;
  ASSERT_NE(encodedUrlSafePayload.find('_'), std::string::npos) << encodedUrlSafePayload;
  for (const auto& [name, jwt, email] : cases) {
    EXPECT_EQ(SettingsView::emailFromJWT(jwt), email) << name << ": " << jwt;
  }
}

TEST(SettingsViewTest, EmailFromJWTIsEmptyForAnythingElse) {
  struct Case {
    std::string_view name;
    std::string token;
  };
  const std::string payload = base64url(R"({"email":"a@b.io"})");
  const Case cases[] = {
      {"empty", ""},
      {"two pieces", kHeader + "." + payload},
      {"four pieces", token(R"({"email":"a@b.io"})") + ".extra"},
      {"only separators", ".."},
      {"payload not Base64", kHeader + ".not*base64." + kSignature},
      {"payload one digit too long", kHeader + "." + payload + "A." + kSignature},
      {"payload not JSON", token("email=a@b.io")},
      {"payload an array", token(R"(["a@b.io"])")},
      {"payload a string", token(R"("a@b.io")")},
      {"JSON with trailing text", token(R"({"email":"a@b.io"} x)")},
      {"no email claim", token(R"({"sub":"42"})")},
      {"email a number", token(R"({"email":42})")},
      {"email null", token(R"({"email":null})")},
      {"email an object", token(R"({"email":{"address":"a@b.io"}})")},
  };
  for (const auto& [name, jwt] : cases) {
    EXPECT_EQ(SettingsView::emailFromJWT(jwt), "") << name << ": " << jwt;
  }
}

TEST(SettingsViewTest, SignedInRowShowsTheEmailOrSignedIn) {
  EXPECT_EQ(SettingsView::signedInRowText(token(R"({"email":"ada@example.com"})")), "ada@example.com");
  EXPECT_EQ(SettingsView::signedInRowText(kHeader + "." + base64url(R"({"email":"ada@example.com"})")), "Signed in");
  EXPECT_EQ(SettingsView::signedInRowText(token(R"({"email":""})")), "Signed in");
}

}  // namespace
}  // namespace quillet::dictate
