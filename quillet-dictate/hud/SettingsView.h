#pragma once

#include <string>
#include <string_view>

namespace quillet::dictate {

// What the HUD's settings view shows about the session, without the widgets.
class SettingsView {
 public:
  // Shown in the signed-in row when the access token names no e-mail.
  static constexpr std::string_view kSignedInWithoutEmail = "Signed in";

  // The "email" claim of a JSON Web Token's payload, read without verifying the token (it is only
  // displayed); empty when the token has not exactly three non-empty pieces, the payload is not
  // Base64url of a JSON object, or the claim is not text.
  static std::string emailFromJWT(std::string_view token);

  // The text of the signed-in row for this access token: its e-mail, or kSignedInWithoutEmail.
  static std::string signedInRowText(std::string_view accessToken);
};

}  // namespace quillet::dictate
