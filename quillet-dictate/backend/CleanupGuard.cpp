#include "quillet-dictate/backend/CleanupGuard.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <unordered_set>

#include "common/text/UnicodeText.h"

namespace quillet::dictate {
namespace {

// Wording with which a model describes the dictation instead of rewriting it.
constexpr std::array<std::string_view, 10> kDerailmentPhrases = {
    "the speaker",       "the author",        "the speaker's",         "they state that", "they note that",
    "they mention that", "they explain that", "they question whether", "they agree and",  "the user states",
};

constexpr std::string_view kTokenAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789'";

constexpr std::size_t kShortestToken = 3;

bool isTokenCharacter(std::string_view character) {
  return character.size() == 1 && kTokenAlphabet.find(character.front()) != std::string_view::npos;
}

// Splits already lower-cased text into tokens that view into it. Splitting goes by
// user-perceived character, so a letter carrying a combining mark separates like any accented letter.
std::vector<std::string_view> tokensOfLowercased(std::string_view lowercasedText) {
  std::vector<std::string_view> tokens;
  constexpr std::size_t kNoPiece = std::string_view::npos;
  std::size_t pieceBegin = kNoPiece;
  const auto endPieceAt = [&](std::size_t end) {
    if (pieceBegin != kNoPiece && end - pieceBegin >= kShortestToken) {
      tokens.push_back(lowercasedText.substr(pieceBegin, end - pieceBegin));
    }
    pieceBegin = kNoPiece;
  };
  text::forEachCharacter(lowercasedText, [&](std::string_view character) {
    const auto offset = static_cast<std::size_t>(character.data() - lowercasedText.data());
    if (!isTokenCharacter(character)) {
      endPieceAt(offset);
    } else if (pieceBegin == kNoPiece) {
      pieceBegin = offset;
    }
  });
  endPieceAt(lowercasedText.size());
  return tokens;
}

bool introducesDerailmentPhrase(std::string_view lowercasedInput, std::string_view lowercasedOutput) {
  return std::any_of(kDerailmentPhrases.begin(), kDerailmentPhrases.end(), [&](std::string_view phrase) {
    return lowercasedOutput.find(phrase) != std::string_view::npos &&
           lowercasedInput.find(phrase) == std::string_view::npos;
  });
}

// Output length within 0.3 to 2.5 times the input length, bounds included; integer arithmetic keeps the bounds exact.
bool hasPlausibleLength(std::string_view input, std::string_view output) {
  const std::size_t inputCount = std::max<std::size_t>(text::characterCount(input), 1);
  const std::size_t outputCount = text::characterCount(output);
  return outputCount * 10 >= inputCount * 3 && outputCount * 2 <= inputCount * 5;
}

}  // namespace

std::vector<std::string> CleanupGuard::contentTokens(std::string_view text) {
  const std::string lowercasedText = text::lowercased(text);
  const std::vector<std::string_view> tokens = tokensOfLowercased(lowercasedText);
  return {tokens.begin(), tokens.end()};
}

bool CleanupGuard::isFaithfulCleanup(std::string_view input, std::string_view output) {
  const std::string lowercasedInput = text::lowercased(input);
  const std::string lowercasedOutput = text::lowercased(output);
  if (introducesDerailmentPhrase(lowercasedInput, lowercasedOutput)) return false;

  const std::vector<std::string_view> outputTokens = tokensOfLowercased(lowercasedOutput);
  if (outputTokens.empty()) return false;
  if (!hasPlausibleLength(input, output)) return false;

  const std::vector<std::string_view> inputTokenList = tokensOfLowercased(lowercasedInput);
  const std::unordered_set<std::string_view> inputTokens(inputTokenList.begin(), inputTokenList.end());
  const auto shared = static_cast<std::size_t>(std::count_if(
      outputTokens.begin(), outputTokens.end(), [&](std::string_view token) { return inputTokens.contains(token); }));
  return shared * 2 >= outputTokens.size();
}

}  // namespace quillet::dictate
