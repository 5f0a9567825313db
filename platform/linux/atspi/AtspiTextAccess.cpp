#include "platform/linux/atspi/AtspiTextAccess.h"

#include <algorithm>

#include "platform/linux/atspi/GLibOwnership.h"

namespace quillet::platform::atspi {

namespace {

// Own edits whose events never came back are not waited for beyond this many.
constexpr std::size_t kEchoLimit = 8;

std::optional<std::int64_t> characterCountOf(AtspiText* text) {
  CallError error;
  const gint count = atspi_text_get_character_count(text, error.out());
  if (error.failed() || count < 0) return std::nullopt;
  return count;
}

std::optional<std::string> textBetween(AtspiText* text, std::int64_t start, std::int64_t end) {
  CallError error;
  return takeText(atspi_text_get_text(text, static_cast<gint>(start), static_cast<gint>(end), error.out()));
}

std::int64_t characterCountOf(std::string_view utf8) { return g_utf8_strlen(utf8.data(), static_cast<gssize>(utf8.size())); }

GObjectPointer<AtspiText> textInterfaceOf(AtspiAccessible* accessible) {
  return GObjectPointer<AtspiText>(atspi_accessible_get_text_iface(accessible));
}

}  // namespace

AtspiTextAccess::MappedText* AtspiTextAccess::find(const std::string& key) {
  const auto found = std::find_if(mapped_.begin(), mapped_.end(), [&](const MappedText& text) { return text.key == key; });
  return found == mapped_.end() ? nullptr : &*found;
}

void AtspiTextAccess::forget(const std::string& key) {
  std::erase_if(mapped_, [&](const MappedText& text) { return text.key == key; });
}

void AtspiTextAccess::remember(std::string key, Utf16OffsetMap map) {
  forget(key);
  mapped_.push_front(MappedText{std::move(key), std::move(map), {}});
  if (mapped_.size() > mappedTexts) mapped_.pop_back();
}

void AtspiTextAccess::startPreparing(AtspiText* text, const std::string& key, std::int64_t characterCount) {
  // Short texts are read on demand anyway; one long text is prepared at a time; a map that seems to lag
  // behind is most likely waiting for the events of edits in flight, and is checked when it is needed.
  if (characterCount <= prefixCharacters || preparation_ || find(key) != nullptr) return;
  preparation_ = Preparation{key, GObjectPointer<AtspiText>(static_cast<AtspiText*>(g_object_ref(text))), {},
                             characterCount, ++preparations_};
  if (wantsPreparationStep_) wantsPreparationStep_();
}

// libatspi delivers events while it waits for an answer, so a text change may abandon the preparation
// during any call below; each call is followed by a look at whether it is still the same one.
bool AtspiTextAccess::continuePreparing() {
  if (!preparation_) return false;
  const std::uint64_t generation = preparation_->generation;
  const auto stillPreparing = [&] { return preparation_ && preparation_->generation == generation; };
  const GObjectPointer<AtspiText> text(static_cast<AtspiText*>(g_object_ref(preparation_->text.get())));
  const std::int64_t start = preparation_->map.characterCount();
  const std::int64_t end = std::min(start + preparationStepCharacters, preparation_->characterCount);
  const auto piece = textBetween(text.get(), start, end);
  if (!stillPreparing()) return preparation_.has_value();
  // A text that cannot be read, or has changed length meanwhile, is mapped when it is needed instead.
  if (!piece || characterCountOf(*piece) != end - start) {
    preparation_.reset();
    return false;
  }
  preparation_->map.inserted(start, *piece);
  if (end < preparation_->characterCount) return true;
  const auto count = characterCountOf(text.get());
  if (!stillPreparing()) return preparation_.has_value();
  Preparation done = std::move(*preparation_);
  preparation_.reset();
  if (count == done.characterCount) remember(std::move(done.key), std::move(done.map));
  return false;
}

void AtspiTextAccess::finishPreparing(const std::string& key) {
  while (preparation_ && preparation_->key == key && continuePreparing()) {
  }
}

const Utf16OffsetMap* AtspiTextAccess::mapFor(AtspiText* text, const std::string& key, std::int64_t reach) {
  const auto count = characterCountOf(text);
  if (!count) return nullptr;
  const std::int64_t needed = std::clamp<std::int64_t>(reach, 0, *count);
  if (needed <= prefixCharacters) {
    // Near the start a prefix tells, and a map that lags behind edits still in flight (the user typing
    // on) is left to catch up with their events rather than thrown away.
    if (const auto* known = find(key); known != nullptr && known->map.characterCount() == *count) return &known->map;
    startPreparing(text, key, *count);
    // An empty prefix needs no call.
    auto prefix = needed == 0 ? std::optional<std::string>(std::string()) : textBetween(text, 0, needed);
    if (!prefix) return nullptr;
    prefixText_ = std::move(*prefix);
    prefix_ = Utf16OffsetMap::of(prefixText_);
    return &prefix_;
  }
  finishPreparing(key);
  if (const auto* known = find(key); known != nullptr && known->map.characterCount() == *count) return &known->map;
  const auto whole = textBetween(text, 0, *count);
  if (!whole) return nullptr;
  remember(key, Utf16OffsetMap::of(*whole));
  return &mapped_.front().map;
}

std::optional<AtspiTextAccess::CharacterRange> AtspiTextAccess::characterRangeOf(AtspiText* text, const std::string& key,
                                                                                 const AXTextRange& range,
                                                                                 bool clampToText,
                                                                                 const Utf16OffsetMap** used) {
  if (range.location < 0 || range.length < 0) return std::nullopt;
  std::int64_t location = range.location;
  std::int64_t end = range.location + range.length;
  // A character takes at least one UTF-16 unit, so the first `end` characters cover the range.
  const auto* map = mapFor(text, key, end);
  if (map == nullptr) return std::nullopt;
  if (used != nullptr) *used = map;
  if (clampToText) {
    const std::int64_t length = map->utf16OffsetOf(map->characterCount());
    end = std::min(end, length);
    location = std::min(location, end);
  }
  const auto start = map->characterOffsetOf(location, false);
  const auto stop = map->characterOffsetOf(end, true);
  if (!start || !stop) return std::nullopt;
  return CharacterRange{*start, *stop};
}

std::optional<AtspiTextAccess::Selection> AtspiTextAccess::selectionOf(AtspiText* text) {
  CallError countError;
  if (atspi_text_get_n_selections(text, countError.out()) > 0) {
    CallError error;
    GMemory<AtspiRange> selection(atspi_text_get_selection(text, 0, error.out()));
    if (selection && selection->start_offset >= 0 && selection->end_offset >= 0) {
      return Selection{std::min(selection->start_offset, selection->end_offset),
                       std::max(selection->start_offset, selection->end_offset)};
    }
  }
  CallError caretError;
  const gint caret = atspi_text_get_caret_offset(text, caretError.out());
  if (caretError.failed() || caret < 0) return std::nullopt;
  return Selection{caret, caret};
}

std::optional<AXTextRange> AtspiTextAccess::selectedTextRange(AtspiAccessible* accessible, const std::string& key) {
  const auto text = textInterfaceOf(accessible);
  if (!text) return std::nullopt;
  const auto selection = selectionOf(text.get());
  if (!selection) return std::nullopt;
  const auto* map = mapFor(text.get(), key, selection->end);
  if (map == nullptr) return std::nullopt;
  const std::int64_t start = map->utf16OffsetOf(selection->start);
  return AXTextRange{start, map->utf16OffsetOf(selection->end) - start};
}

std::optional<std::string> AtspiTextAccess::selectedText(AtspiAccessible* accessible) {
  const auto text = textInterfaceOf(accessible);
  if (!text) return std::nullopt;
  const auto selection = selectionOf(text.get());
  if (!selection) return std::nullopt;
  if (selection->start == selection->end) return std::string();
  return textBetween(text.get(), selection->start, selection->end);
}

std::optional<std::int64_t> AtspiTextAccess::utf16Length(AtspiAccessible* accessible, const std::string& key) {
  const auto text = textInterfaceOf(accessible);
  if (!text) return std::nullopt;
  const auto count = characterCountOf(text.get());
  if (!count) return std::nullopt;
  const auto* map = mapFor(text.get(), key, *count);
  if (map == nullptr) return std::nullopt;
  return map->utf16OffsetOf(*count);
}

std::optional<std::string> AtspiTextAccess::stringForRange(AtspiAccessible* accessible, const std::string& key,
                                                           const AXTextRange& range) {
  const auto text = textInterfaceOf(accessible);
  if (!text) return std::nullopt;
  const Utf16OffsetMap* used = nullptr;
  const auto characters = characterRangeOf(text.get(), key, range, true, &used);
  if (!characters) return std::nullopt;
  if (characters->start == characters->end) return std::string();
  // A piece near the start was just read as the prefix that translated its offsets: no second call.
  if (used == &prefix_) {
    const char* begin = g_utf8_offset_to_pointer(prefixText_.c_str(), static_cast<glong>(characters->start));
    const char* end = g_utf8_offset_to_pointer(begin, static_cast<glong>(characters->end - characters->start));
    return std::string(begin, end);
  }
  return textBetween(text.get(), characters->start, characters->end);
}

std::optional<AXRect> AtspiTextAccess::boundsForRange(AtspiAccessible* accessible, const std::string& key,
                                                      const AXTextRange& range) {
  const auto text = textInterfaceOf(accessible);
  if (!text) return std::nullopt;
  const auto characters = characterRangeOf(text.get(), key, range, false);
  if (!characters) return std::nullopt;
  CallError error;
  GMemory<AtspiRect> bounds(atspi_text_get_range_extents(text.get(), static_cast<gint>(characters->start),
                                                         static_cast<gint>(characters->end), ATSPI_COORD_TYPE_SCREEN,
                                                         error.out()));
  if (!bounds || error.failed()) return std::nullopt;
  return AXRect{{double(bounds->x), double(bounds->y)}, {double(bounds->width), double(bounds->height)}};
}

std::optional<AXAttributedText> AtspiTextAccess::attributedStringForRange(AtspiAccessible* accessible,
                                                                          const std::string& key,
                                                                          const AXTextRange& range) {
  const auto text = textInterfaceOf(accessible);
  if (!text) return std::nullopt;
  const auto characters = characterRangeOf(text.get(), key, range, false);
  if (!characters) return std::nullopt;
  const auto piece = textBetween(text.get(), characters->start, characters->end);
  if (!piece) return std::nullopt;
  AXAttributedText attributed{*piece, std::nullopt, std::nullopt};
  gint runStart = 0;
  gint runEnd = 0;
  CallError runError;
  HashTablePointer attributes(atspi_text_get_attribute_run(text.get(), static_cast<gint>(characters->start), TRUE,
                                                           &runStart, &runEnd, runError.out()));
  if (attributes) {
    if (const auto* family = static_cast<const char*>(g_hash_table_lookup(attributes.get(), "family-name"))) {
      attributed.fontFamily = family;
    }
    if (const auto* size = static_cast<const char*>(g_hash_table_lookup(attributes.get(), "size"))) {
      attributed.fontSize = g_ascii_strtod(size, nullptr);
    }
  }
  return attributed;
}

Expected<void, AXError> AtspiTextAccess::replaceSelection(AtspiAccessible* accessible, const std::string& key, std::string_view written) {
  GObjectPointer<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(accessible));
  const auto text = textInterfaceOf(accessible);
  if (!editable || !text || !hasState(accessible, ATSPI_STATE_EDITABLE)) {
    return AXError{AXErrorKind::notSettable, "the element's text is not editable"};
  }
  const auto selection = selectionOf(text.get());
  if (!selection) return AXError{AXErrorKind::cannotComplete, "the element shows no caret"};

  // The application reports each edit as an event, which libatspi may deliver before the call returns:
  // the edit is announced as expected first, and the map follows it once the call succeeded.
  if (selection->end > selection->start) {
    const Edit deletion{false, selection->start, selection->end - selection->start};
    expectOwnEdit(key, deletion);
    CallError error;
    const gboolean deleted = atspi_editable_text_delete_text(editable.get(), static_cast<gint>(selection->start),
                                                             static_cast<gint>(selection->end), error.out());
    if (!deleted || error.failed()) {
      forget(key);
      return AXError{AXErrorKind::cannotComplete, error.message()};
    }
    applyOwnEdit(key, deletion, {});
  }
  const std::string payload(written);
  const Edit insertion{true, selection->start, characterCountOf(payload)};
  expectOwnEdit(key, insertion);
  CallError error;
  const gboolean inserted = atspi_editable_text_insert_text(editable.get(), static_cast<gint>(selection->start),
                                                            payload.c_str(), static_cast<gint>(payload.size()),
                                                            error.out());
  if (!inserted || error.failed()) {
    forget(key);
    return AXError{AXErrorKind::cannotComplete, error.message()};
  }
  applyOwnEdit(key, insertion, payload);
  const std::int64_t length = insertion.length;

  // Editors move the caret along with text inserted at it, but not every one; typing always leaves it after.
  CallError caretError;
  atspi_text_set_caret_offset(text.get(), static_cast<gint>(selection->start + length), caretError.out());
  return {};
}

void AtspiTextAccess::expectOwnEdit(const std::string& key, const Edit& edit) {
  auto* known = find(key);
  if (known == nullptr || !receivingEvents_) return;
  if (known->echoes.size() == kEchoLimit) {
    // The application does not report its edits: its map can no longer be trusted.
    forget(key);
    return;
  }
  known->echoes.push_back(edit);
}

void AtspiTextAccess::applyOwnEdit(const std::string& key, const Edit& edit, std::string_view insertedText) {
  auto* known = find(key);
  if (known == nullptr) return;
  if (edit.insertion) {
    known->map.inserted(edit.offset, insertedText);
  } else {
    known->map.deleted(edit.offset, edit.length);
  }
}

bool AtspiTextAccess::isEcho(const std::string& key, const Edit& edit) {
  auto* known = find(key);
  if (known == nullptr || known->echoes.empty() || known->echoes.front() != edit) return false;
  known->echoes.pop_front();
  return true;
}

void AtspiTextAccess::textInserted(const std::string& key, std::int64_t offset, std::int64_t length,
                                   std::optional<std::string_view> inserted) {
  if (preparation_ && preparation_->key == key) preparation_.reset();
  auto* known = find(key);
  if (known == nullptr || isEcho(key, {true, offset, length})) return;
  if (!inserted || characterCountOf(*inserted) != length) {
    forget(key);
    return;
  }
  known->map.inserted(offset, *inserted);
}

void AtspiTextAccess::textDeleted(const std::string& key, std::int64_t offset, std::int64_t length) {
  if (preparation_ && preparation_->key == key) preparation_.reset();
  auto* known = find(key);
  if (known == nullptr || isEcho(key, {false, offset, length})) return;
  known->map.deleted(offset, length);
}

}  // namespace quillet::platform::atspi
