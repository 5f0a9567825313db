#include "quillet-dictate/backend/VessioAuthError.h"

namespace quillet::dictate {

std::string VessioAuthError::description() const {
  switch (kind) {
    case Kind::http:
      return message;
    case Kind::network:
      return "Network error: " + message;
    case Kind::badResponse:
      return "Unexpected response from server.";
    case Kind::noRefreshToken:
      return "Not signed in.";
  }
  return message;
}

}  // namespace quillet::dictate
