#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quillet::dictate {

// Decides whether an AI rewrite of a transcript is the same words polished, rather than a
// report about them ("the speaker says ...") or something unrelated.
class CleanupGuard {
 public:
  // The lower-cased runs of [a-z0-9'] in `text` longer than two characters, in order, duplicates kept.
  static std::vector<std::string> contentTokens(std::string_view text);

  // True when `output` may replace `input`; runs in time linear in both lengths.
  static bool isFaithfulCleanup(std::string_view input, std::string_view output);
};

}  // namespace quillet::dictate
