#include "platform/linux/atspi/Utf16OffsetMap.h"

#include <algorithm>

namespace quillet::platform::atspi {

namespace {

// Bytes of the UTF-8 sequence that begins with `leadByte`; continuation bytes count as one so that
// malformed text still advances.
std::size_t sequenceLength(unsigned char leadByte) {
  if (leadByte >= 0xF0) return 4;
  if (leadByte >= 0xE0) return 3;
  if (leadByte >= 0xC0) return 2;
  return 1;
}

// Visits every character of `text` with its character offset and whether it takes two UTF-16 units.
template <class Visit>
std::int64_t forEachCharacter(std::string_view text, Visit visit) {
  std::int64_t characters = 0;
  for (std::size_t byte = 0; byte < text.size(); ++characters) {
    const std::size_t length = sequenceLength(static_cast<unsigned char>(text[byte]));
    if (length == 4) visit(characters);
    byte += length;
  }
  return characters;
}

}  // namespace

Utf16OffsetMap Utf16OffsetMap::of(std::string_view text) {
  Utf16OffsetMap map;
  map.characterCount_ = forEachCharacter(text, [&](std::int64_t offset) { map.wideCharacters_.push_back(offset); });
  return map;
}

std::int64_t Utf16OffsetMap::utf16OffsetOf(std::int64_t characterOffset) const {
  const std::int64_t clamped = std::clamp<std::int64_t>(characterOffset, 0, characterCount_);
  const auto wideBefore = std::lower_bound(wideCharacters_.begin(), wideCharacters_.end(), clamped) - wideCharacters_.begin();
  return clamped + wideBefore;
}

std::optional<std::int64_t> Utf16OffsetMap::characterOffsetOf(std::int64_t utf16Offset, bool roundUp) const {
  if (utf16Offset < 0 || utf16Offset > utf16OffsetOf(characterCount_)) return std::nullopt;
  // The answer c is the largest character offset whose UTF-16 offset does not pass utf16Offset.
  std::int64_t low = std::max<std::int64_t>(0, utf16Offset - static_cast<std::int64_t>(wideCharacters_.size()));
  std::int64_t high = std::min(utf16Offset, characterCount_);
  while (low < high) {
    const std::int64_t middle = low + (high - low + 1) / 2;
    if (utf16OffsetOf(middle) <= utf16Offset) {
      low = middle;
    } else {
      high = middle - 1;
    }
  }
  if (roundUp && utf16OffsetOf(low) < utf16Offset) return low + 1;
  return low;
}

void Utf16OffsetMap::inserted(std::int64_t characterOffset, std::string_view text) {
  const std::int64_t at = std::clamp<std::int64_t>(characterOffset, 0, characterCount_);
  std::vector<std::int64_t> added;
  const std::int64_t length = forEachCharacter(text, [&](std::int64_t offset) { added.push_back(at + offset); });
  const auto split = std::lower_bound(wideCharacters_.begin(), wideCharacters_.end(), at);
  for (auto later = split; later != wideCharacters_.end(); ++later) *later += length;
  wideCharacters_.insert(split, added.begin(), added.end());
  characterCount_ += length;
}

void Utf16OffsetMap::deleted(std::int64_t characterOffset, std::int64_t length) {
  const std::int64_t begin = std::clamp<std::int64_t>(characterOffset, 0, characterCount_);
  const std::int64_t end = std::clamp<std::int64_t>(characterOffset + std::max<std::int64_t>(length, 0), begin, characterCount_);
  const auto first = std::lower_bound(wideCharacters_.begin(), wideCharacters_.end(), begin);
  const auto last = std::lower_bound(first, wideCharacters_.end(), end);
  for (auto later = last; later != wideCharacters_.end(); ++later) *later -= end - begin;
  wideCharacters_.erase(first, last);
  characterCount_ -= end - begin;
}

}  // namespace quillet::platform::atspi
