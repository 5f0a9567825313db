#include "quillet-dictate/shell/CheckTrigger.h"

namespace quillet::dictate {

std::optional<double> debounceSeconds(CheckTrigger trigger) {
  switch (trigger) {
    case CheckTrigger::manual:
      return std::nullopt;
    case CheckTrigger::onPause500ms:
      return 0.5;
    case CheckTrigger::onPause800ms:
      return 0.8;
    case CheckTrigger::onPause2s:
      return 2.0;
    case CheckTrigger::onPause5s:
      return 5.0;
  }
  return std::nullopt;
}

}  // namespace quillet::dictate
