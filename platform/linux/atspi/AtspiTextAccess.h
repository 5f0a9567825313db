#pragma once

#include <atspi/atspi.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/AXAttributeValue.h"
#include "platform/Accessibility.h"
#include "platform/linux/atspi/GLibOwnership.h"
#include "platform/linux/atspi/Utf16OffsetMap.h"

namespace quillet::platform::atspi {

// The text of other applications' elements in AX terms: ranges in UTF-16 units over AT-SPI's character
// offsets, read and edited in pieces so that a long document costs no more than a short one.
//
// Translating offsets needs to know where the characters beyond the Basic Multilingual Plane sit. For
// offsets near the start a short prefix of the text tells; for the rest, the texts worked on last are
// mapped once and kept up to date from their text-change events and from this class's own edits. A map
// whose character count no longer matches the application's is read afresh. Main thread only.
//
// Elements are named by `key`, unique for one element of one application (bus name and object path).
class AtspiTextAccess {
 public:
  // Offsets up to here are translated from a prefix of the text, read on demand.
  static constexpr std::int64_t prefixCharacters = 65536;
  static constexpr std::size_t mappedTexts = 8;
  // How much of a long text one preparation step reads: a few milliseconds of the main thread.
  static constexpr std::int64_t preparationStepCharacters = 262144;

  // Whether text-change events of every application reach textInserted()/textDeleted(); only then do
  // this class's own edits come back as events to be recognised.
  void setReceivingEvents(bool receiving) { receivingEvents_ = receiving; }

  // The selection, or the caret as an empty range.
  std::optional<AXTextRange> selectedTextRange(AtspiAccessible* accessible, const std::string& key);
  // The selected text; empty when only a caret shows.
  std::optional<std::string> selectedText(AtspiAccessible* accessible);
  std::optional<std::int64_t> utf16Length(AtspiAccessible* accessible, const std::string& key);
  // The text of the range as far as the text reaches.
  std::optional<std::string> stringForRange(AtspiAccessible* accessible, const std::string& key, const AXTextRange& range);
  std::optional<AXRect> boundsForRange(AtspiAccessible* accessible, const std::string& key, const AXTextRange& range);
  std::optional<AXAttributedText> attributedStringForRange(AtspiAccessible* accessible, const std::string& key,
                                                           const AXTextRange& range);
  // Replaces the selection, or inserts at the caret, and puts the caret right after `text`.
  Expected<void, AXError> replaceSelection(AtspiAccessible* accessible, const std::string& key, std::string_view text);

  // The first read of a long text that is not mapped yet (the focus tracker's look at a document that
  // just took focus) starts mapping it ahead of need, a step at a time, so that the first insertion does
  // not wait for all of it to be read. `wantsPreparationStep` is called then; the owner calls
  // continuePreparing() on later turns of its loop while it answers true.
  explicit AtspiTextAccess(std::function<void()> wantsPreparationStep = {})
      : wantsPreparationStep_(std::move(wantsPreparationStep)) {}

  bool continuePreparing();

  // Text-change events of any application.
  void textInserted(const std::string& key, std::int64_t offset, std::int64_t length,
                    std::optional<std::string_view> text);
  void textDeleted(const std::string& key, std::int64_t offset, std::int64_t length);

 private:
  struct Edit {
    bool insertion = false;
    std::int64_t offset = 0;
    std::int64_t length = 0;

    friend bool operator==(const Edit&, const Edit&) = default;
  };
  struct MappedText {
    std::string key;
    Utf16OffsetMap map;
    // This class's own edits whose events have not come back yet, oldest first.
    std::deque<Edit> echoes;
  };
  struct CharacterRange {
    std::int64_t start = 0;
    std::int64_t end = 0;
  };
  struct Selection {
    std::int64_t start = 0;
    std::int64_t end = 0;
  };

  // A map that holds for at least the first `reach` characters of the text; null when the text cannot be read.
  const Utf16OffsetMap* mapFor(AtspiText* text, const std::string& key, std::int64_t reach);
  // `used`, when given, receives the map that translated the range.
  std::optional<CharacterRange> characterRangeOf(AtspiText* text, const std::string& key, const AXTextRange& range,
                                                 bool clampToText, const Utf16OffsetMap** used = nullptr);
  static std::optional<Selection> selectionOf(AtspiText* text);
  MappedText* find(const std::string& key);
  void forget(const std::string& key);
  // An own edit is announced before the call that makes it, and applied to the map after it succeeded.
  void expectOwnEdit(const std::string& key, const Edit& edit);
  void applyOwnEdit(const std::string& key, const Edit& edit, std::string_view insertedText);
  // Whether the event is the echo of an own edit; consumes it then.
  bool isEcho(const std::string& key, const Edit& edit);

  // A long text being mapped a step at a time; abandoned when it changes meanwhile.
  struct Preparation {
    std::string key;
    GObjectPointer<AtspiText> text;
    Utf16OffsetMap map;
    std::int64_t characterCount = 0;
    // Tells this preparation from a later one of the same text.
    std::uint64_t generation = 0;
  };
  // Reads the rest of a preparation of `key` at once, when one is under way.
  void finishPreparing(const std::string& key);
  void startPreparing(AtspiText* text, const std::string& key, std::int64_t characterCount);
  void remember(std::string key, Utf16OffsetMap map);

  std::deque<MappedText> mapped_;
  std::optional<Preparation> preparation_;
  std::uint64_t preparations_ = 0;
  std::function<void()> wantsPreparationStep_;
  // The start of the text last read to translate offsets near it, and its map.
  std::string prefixText_;
  Utf16OffsetMap prefix_;
  bool receivingEvents_ = false;
};

}  // namespace quillet::platform::atspi
