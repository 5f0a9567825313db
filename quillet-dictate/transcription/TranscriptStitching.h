#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::dictate {

// The text rules that join the separately transcribed chunks of one recording: words that two
// neighbouring chunks both carry at their seam are removed, and phrases a recogniser invents for
// silence are dropped. Pure and stateless, so any thread may call it.
//
// A "word" or "token" is a run of user-perceived characters whose first code point is a letter
// or a number by Unicode general category (L* or N*).
class TranscriptStitching {
 public:
  TranscriptStitching() = delete;

  // The longest seam compared, in tokens.
  static constexpr std::size_t kMaximumOverlapTokens = 6;

  // The words of `text`, each lower-cased character by character, in order; no token is empty.
  static std::vector<std::string> tokenize(std::string_view text);

  // `text` without its first `count` words and the white space and punctuation that follow them.
  // A text that ends inside or right after the last of those words yields the empty text; a text
  // with fewer words than `count`, or a `count` of zero, is returned unchanged.
  static std::string dropPrefixWords(std::string_view text, std::size_t count);

  // `current` without the longest run of two to six tokens that ends `previous` and also starts
  // `current` (compared lower-cased); unchanged when there is none.
  static std::string trimOverlapPrefix(std::string_view previous, std::string_view current);

  // The empty text when `text`, lower-cased with every run of characters other than a–z and 0–9
  // made one space, is exactly one of the phrases recognisers invent for silence; otherwise
  // `text` trimmed of white space and line breaks.
  static std::string dropLikelySilenceHallucination(std::string_view text);

  // Whether a chunk that follows `previous` starts a sentence: when `previous` is empty or blank,
  // or its last character, trailing spaces and tabs aside, is ".", "!", "?" or a line feed.
  static bool startsSentenceAfter(std::string_view previous);

  // The texts in index order, each trimmed, empty ones skipped, each later one without its seam
  // overlap with the text kept before it, joined by single spaces.
  static std::string stitch(const std::map<int, std::string>& segments);
};

}  // namespace quillet::dictate
