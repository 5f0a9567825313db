#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>

// Regular-expression rewrites of UTF-8 text on ICU, so that code outside this folder never sees ICU.
namespace quillet::text {

// Rules applied in order, each replacing every match of its pattern (ICU's syntax: \b is the boundary
// between \w and \W, "$1" in a replacement stands for the first capture group). Compiled once; one
// object may be shared by every thread. Nothing here throws.
class RewriteRules {
 public:
  struct Rule {
    std::string_view pattern;
    std::string_view replacement;
    bool caseInsensitive = false;
  };

  // A rule whose pattern does not compile is left out, so a broken rule never costs the text.
  explicit RewriteRules(std::span<const Rule> rules);
  ~RewriteRules();
  RewriteRules(const RewriteRules&) = delete;
  RewriteRules& operator=(const RewriteRules&) = delete;

  // `utf8` after every rule, as well-formed UTF-8. A rule that cannot run (ICU out of memory) leaves the
  // text as it was, and text too long for ICU to hold comes back unchanged.
  [[nodiscard]] std::string appliedTo(std::string_view utf8) const;

 private:
  struct Compiled;
  std::unique_ptr<const Compiled> compiled_;
};

}  // namespace quillet::text
