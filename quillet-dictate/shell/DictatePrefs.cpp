#include "quillet-dictate/shell/DictatePrefs.h"

#include "common/runtime/Overloaded.h"

namespace quillet::dictate {

std::string describe(const DictateHotkey::Kind& kind) {
  return std::visit(
      Overloaded{
          [](const DictateHotkey::Fn&) { return std::string("fn"); },
          [](const DictateHotkey::ShiftDouble&) { return std::string("shiftDouble"); },
          [](const DictateHotkey::HoldKey& hold) { return "holdKey(keyCode: " + std::to_string(hold.keyCode) + ")"; },
          [](const DictateHotkey::Combo& combo) {
            std::string modifiers;
            for (const auto& modifier : combo.modifiers) {
              modifiers += (modifiers.empty() ? "" : ", ") + modifier;
            }
            return "combo(keyCode: " + std::to_string(combo.keyCode) + ", modifiers: [" + modifiers + "])";
          },
      },
      kind);
}

}  // namespace quillet::dictate
