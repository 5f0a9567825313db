#include "quillet-dictate/backend/AIFailure.h"

#include "common/runtime/Overloaded.h"

namespace quillet::dictate {

std::string AIFailure::description() const {
  return std::visit(Overloaded{[](const VessioError& vessio) { return vessio.description(); },
                               [](const VessioAuthError& auth) { return auth.description(); },
                               [](const platform::HttpTransportError& transport) { return transport.description; },
                               [](const JsonParseFailure& parse) { return parse.description; }},
                    error);
}

}  // namespace quillet::dictate
