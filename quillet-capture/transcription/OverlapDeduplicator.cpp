#include "quillet-capture/transcription/OverlapDeduplicator.h"

#include <algorithm>

#include "common/text/UnicodeText.h"

namespace quillet::capture {

namespace {

std::vector<std::string> wordsOf(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (const char character : text) {
    if (character == ' ' || character == '\n') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word.push_back(character);
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// How many words at the start of `words` repeat the end of `tail`.
std::size_t repeatedCount(const std::vector<std::string>& words, const std::vector<std::string>& tail) {
  for (std::size_t count = std::min({OverlapDeduplicator::kLongestMatch, words.size(), tail.size()}); count > 0;
       --count) {
    bool same = true;
    for (std::size_t index = 0; index < count && same; ++index) {
      same = text::lowercased(words[index]) == text::lowercased(tail[tail.size() - count + index]);
    }
    if (same) return count;
  }
  return 0;
}

}  // namespace

std::vector<TranscriptSegment> OverlapDeduplicator::dedup(const std::vector<TranscriptSegment>& segments) {
  std::vector<std::vector<std::string>> segmentWords;
  std::vector<std::string> allWords;
  for (const auto& segment : segments) {
    segmentWords.push_back(wordsOf(segment.text));
    allWords.insert(allWords.end(), segmentWords.back().begin(), segmentWords.back().end());
  }
  if (allWords.empty()) return {};

  std::size_t toDrop = repeatedCount(allWords, tailWords_);
  const std::size_t kept = std::min(kTailWords, allWords.size());
  tailWords_.assign(allWords.end() - std::ptrdiff_t(kept), allWords.end());

  std::vector<TranscriptSegment> result;
  for (std::size_t index = 0; index < segments.size(); ++index) {
    auto& words = segmentWords[index];
    const std::size_t dropped = std::min(toDrop, words.size());
    toDrop -= dropped;
    std::string text;
    for (std::size_t word = dropped; word < words.size(); ++word) {
      if (!text.empty()) text += ' ';
      text += words[word];
    }
    text = text::trimmedWhitespaceAndNewlines(text);
    if (!text.empty()) result.push_back({std::move(text), segments[index].startMs, segments[index].endMs});
  }
  return result;
}

}  // namespace quillet::capture
