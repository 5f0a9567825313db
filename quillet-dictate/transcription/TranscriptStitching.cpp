#include "quillet-dictate/transcription/TranscriptStitching.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "common/text/UnicodeText.h"

namespace quillet::dictate {
namespace {

// Compared against the normalised key of a whole chunk's text.
constexpr std::array<std::string_view, 6> kSilenceHallucinations = {
    "hello how are you today",
    "hello how are you doing today",
    "hello this is a test of the speech transcription engine",
    "this is a test of the speech transcription engine",
    "testing one two three",
    "here is the json requested",
};

bool isLetterOrNumber(std::string_view character) { return text::leadingCodePointOf(character).isLetterOrNumber; }

bool isWhitespaceOrPunctuation(std::string_view character) {
  const text::LeadingCodePoint leading = text::leadingCodePointOf(character);
  return leading.isWhiteSpace || leading.isPunctuation;
}

bool isAsciiLowercaseLetterOrDigit(char byte) { return (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9'); }

// Lower-cases and turns every run of bytes outside a–z and 0–9 into one space. A non-ASCII code
// point is made only of bytes outside that range, so runs of bytes and runs of characters agree.
std::string silenceHallucinationKey(std::string_view trimmed) {
  const std::string lowered = text::lowercased(trimmed);
  std::string key;
  key.reserve(lowered.size());
  bool inSeparatorRun = false;
  for (const char byte : lowered) {
    if (isAsciiLowercaseLetterOrDigit(byte)) {
      key.push_back(byte);
      inSeparatorRun = false;
    } else if (!inSeparatorRun) {
      key.push_back(' ');
      inSeparatorRun = true;
    }
  }
  const std::size_t first = key.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return key.substr(first, key.find_last_not_of(' ') - first + 1);
}

}  // namespace

std::vector<std::string> TranscriptStitching::tokenize(std::string_view text) {
  std::vector<std::string> tokens;
  std::string current;
  text::forEachCharacter(text, [&](std::string_view character) {
    if (isLetterOrNumber(character)) {
      current += text::lowercased(character);
    } else if (!current.empty()) {
      tokens.push_back(std::move(current));
      current.clear();
    }
  });
  if (!current.empty()) tokens.push_back(std::move(current));
  return tokens;
}

std::string TranscriptStitching::dropPrefixWords(std::string_view text, std::size_t count) {
  if (count == 0) return std::string(text);
  std::size_t finishedWords = 0;
  bool inWord = false;
  bool skippingSeparators = false;
  std::size_t restBegins = std::string_view::npos;
  text::forEachCharacter(text, [&](std::string_view character) {
    if (restBegins != std::string_view::npos) return;
    const auto offset = static_cast<std::size_t>(character.data() - text.data());
    if (skippingSeparators) {
      if (!isWhitespaceOrPunctuation(character)) restBegins = offset;
      return;
    }
    if (isLetterOrNumber(character)) {
      inWord = true;
      return;
    }
    if (!inWord) return;
    inWord = false;
    // The character that finishes the last dropped word goes with it, whatever it is.
    if (++finishedWords == count) skippingSeparators = true;
  });
  if (restBegins != std::string_view::npos) return std::string(text.substr(restBegins));
  if (skippingSeparators) return {};
  if (inWord && finishedWords + 1 >= count) return {};
  return std::string(text);
}

std::string TranscriptStitching::trimOverlapPrefix(std::string_view previous, std::string_view current) {
  const std::vector<std::string> previousTokens = tokenize(previous);
  const std::vector<std::string> currentTokens = tokenize(current);
  const std::size_t longest = std::min({previousTokens.size(), currentTokens.size(), kMaximumOverlapTokens});
  for (std::size_t length = longest; length >= 2; --length) {
    if (std::equal(previousTokens.end() - static_cast<std::ptrdiff_t>(length), previousTokens.end(),
                   currentTokens.begin())) {
      return dropPrefixWords(current, length);
    }
  }
  return std::string(current);
}

std::string TranscriptStitching::dropLikelySilenceHallucination(std::string_view text) {
  std::string trimmed = text::trimmedWhitespaceAndNewlines(text);
  const std::string key = silenceHallucinationKey(trimmed);
  const bool isHallucination = std::find(kSilenceHallucinations.begin(), kSilenceHallucinations.end(), key) !=
                               kSilenceHallucinations.end();
  return isHallucination ? std::string() : trimmed;
}

bool TranscriptStitching::startsSentenceAfter(std::string_view previous) {
  std::string_view lastCharacter;
  text::forEachCharacter(previous, [&](std::string_view character) {
    if (!text::leadingCodePointOf(character).isBlank) lastCharacter = character;
  });
  return lastCharacter.empty() || lastCharacter == "." || lastCharacter == "!" || lastCharacter == "?" || lastCharacter == "\n";
}

std::string TranscriptStitching::stitch(const std::map<int, std::string>& segments) {
  std::string joined;
  std::string lastKept;
  for (const auto& [index, segment] : segments) {
    std::string text = text::trimmedWhitespaceAndNewlines(segment);
    if (text.empty()) continue;
    if (!joined.empty()) {
      text = trimOverlapPrefix(lastKept, text);
      if (text.empty()) continue;
      joined.push_back(' ');
    }
    joined += text;
    lastKept = std::move(text);
  }
  return joined;
}

}  // namespace quillet::dictate
