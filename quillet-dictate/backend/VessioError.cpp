#include "quillet-dictate/backend/VessioError.h"

namespace quillet::dictate {

std::string VessioError::description() const {
  switch (kind) {
    case Kind::api:
      return message;
    case Kind::decode:
      return "Parse error: " + message;
    case Kind::httpStatus:
      return "HTTP " + std::to_string(status) + ": " + message;
    case Kind::noApiKey:
      return "Sign in to Vessio to use grammar and voice.";
    case Kind::signedOut:
      return "Your session expired. Sign in again.";
  }
  return message;
}

}  // namespace quillet::dictate
