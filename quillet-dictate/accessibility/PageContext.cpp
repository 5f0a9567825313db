#include "quillet-dictate/accessibility/PageContext.h"

namespace quillet::dictate {

std::string_view rawValue(PageContext::AppHint hint) {
  switch (hint) {
    case PageContext::AppHint::mail:
      return "mail";
    case PageContext::AppHint::chat:
      return "chat";
    case PageContext::AppHint::browser:
      return "browser";
    case PageContext::AppHint::doc:
      return "doc";
    case PageContext::AppHint::code:
      return "code";
    case PageContext::AppHint::generic:
      return "generic";
  }
  return "generic";
}

}  // namespace quillet::dictate
