#pragma once

#include <string>

namespace quillet::dictate {

// One grammar issue as the capsule and the writing tab show it; identified by `id`.
struct GrammarError {
  std::string id;  // a new UUID for each issue
  std::string original;  // the text as written, found again by searching for it
  std::string corrected;  // the replacement
  std::string type;
  std::string explanation;  // a sentence for the user

  friend bool operator==(const GrammarError&, const GrammarError&) = default;
};

}  // namespace quillet::dictate
