#include "common/text/RewriteRules.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include <utility>
#include <vector>

#include "common/text/IcuText.h"

namespace quillet::text {

struct RewriteRules::Compiled {
  struct Rule {
    std::unique_ptr<const icu::RegexPattern> pattern;
    icu::UnicodeString replacement;
  };
  // A RegexPattern is immutable, so every thread shares them and brings its own matchers.
  std::vector<Rule> rules;
};

namespace {

// A matcher that cannot be made or cannot replace leaves the text as it was.
icu::UnicodeString replacedEveryMatch(const icu::RegexPattern& pattern, const icu::UnicodeString& replacement,
                                      const icu::UnicodeString& text) {
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<icu::RegexMatcher> matcher(pattern.matcher(text, status));
  if (U_FAILURE(status) || !matcher) return text;
  icu::UnicodeString replaced = matcher->replaceAll(replacement, status);
  if (U_FAILURE(status)) return text;
  return replaced;
}

}  // namespace

RewriteRules::RewriteRules(std::span<const Rule> rules) {
  auto compiled = std::make_unique<Compiled>();
  for (const Rule& rule : rules) {
    auto pattern = decodedUtf8(rule.pattern);
    auto replacement = decodedUtf8(rule.replacement);
    if (pattern.failed() || replacement.failed()) continue;
    UParseError where{};
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<const icu::RegexPattern> regex(icu::RegexPattern::compile(
        pattern.value(), rule.caseInsensitive ? static_cast<uint32_t>(UREGEX_CASE_INSENSITIVE) : 0U, where, status));
    if (U_FAILURE(status) || !regex) continue;
    compiled->rules.push_back({std::move(regex), std::move(replacement).value()});
  }
  compiled_ = std::move(compiled);
}

RewriteRules::~RewriteRules() = default;

std::string RewriteRules::appliedTo(std::string_view utf8) const {
  auto decoded = decodedUtf8(utf8);
  if (decoded.failed()) return std::string(utf8);
  icu::UnicodeString text = std::move(decoded).value();
  for (const auto& rule : compiled_->rules) text = replacedEveryMatch(*rule.pattern, rule.replacement, text);
  return encodedUtf8(text);
}

}  // namespace quillet::text
