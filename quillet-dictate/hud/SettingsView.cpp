#include "quillet-dictate/hud/SettingsView.h"

#include <algorithm>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/text/Base64.h"

namespace quillet::dictate {

namespace {

// The pieces of `text` between the separators, empty pieces dropped.
std::vector<std::string_view> nonEmptyPieces(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find(separator), text.size());
    if (end > 0) pieces.push_back(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return pieces;
}

// Base64url without padding, as tokens carry it, turned into padded standard Base64.
std::string standardBase64(std::string_view base64url) {
  std::string standard(base64url);
  std::replace(standard.begin(), standard.end(), '-', '+');
  std::replace(standard.begin(), standard.end(), '_', '/');
  while (standard.size() % 4 != 0) standard += '=';
  return standard;
}

}  // namespace

std::string SettingsView::emailFromJWT(std::string_view token) {
  const auto pieces = nonEmptyPieces(token, '.');
  if (pieces.size() != 3) return {};
  const auto payload = text::decodedBase64(standardBase64(pieces[1]));
  if (payload.failed()) return {};
  const auto claims = nlohmann::json::parse(payload.value(), nullptr, false);
  if (!claims.is_object()) return {};
  const auto email = claims.find("email");
  if (email == claims.end() || !email->is_string()) return {};
  return email->get<std::string>();
}

std::string SettingsView::signedInRowText(std::string_view accessToken) {
  std::string email = emailFromJWT(accessToken);
  return email.empty() ? std::string(kSignedInWithoutEmail) : email;
}

}  // namespace quillet::dictate
