#include "quillet-dictate/accessibility/TextInsertion.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "common/runtime/Weakly.h"
#include "common/text/UnicodeText.h"
#include "quillet-dictate/accessibility/ApplicationOfElement.h"
#include "quillet-dictate/accessibility/PasteChord.h"
#include "quillet-dictate/accessibility/PlaceholderChrome.h"

namespace quillet::dictate {

namespace {

using platform::AccessibilityElement;
using platform::AXAttribute;
using platform::PasteboardContents;

const char* yesNo(bool value) { return value ? "true" : "false"; }

// The first `count` user-perceived characters of `text`.
std::string characterPrefix(std::string_view text, std::size_t count) {
  std::string prefix;
  std::size_t taken = 0;
  text::forEachCharacter(text, [&](std::string_view character) {
    if (taken++ < count) prefix.append(character);
  });
  return prefix;
}

// Whether the field wants pasting rather than an insertion: a chat application's text field, or a field
// showing only a prompt. The decoration rule alone would count a missing placeholder as a prompt and
// send every field without one to the paste path.
bool prefersPasting(const ElementReading& reading, platform::AppIdentity& identity, const AccessibilityElement& element,
                    const std::string& current, const std::string& placeholder) {
  const std::string role = reading.roleOf(element);
  const bool chatField = (role == "AXTextArea" || role == "AXTextField") &&
                         isSimpleDecorationApp(bundleIdOfElement(reading, identity, element));
  return chatField || looksLikePlaceholderChrome(current) ||
         (!placeholder.empty() && looksLikePlaceholderChrome(placeholder));
}

std::size_t occurrences(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return 0;
  std::size_t count = 0;
  for (auto at = haystack.find(needle); at != std::string_view::npos; at = haystack.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

// The text of the UTF-16 range [begin, end) of the field, as far as it reaches; empty when unreadable.
std::string textBetween(platform::Accessibility& accessibility, const AccessibilityElement& element, std::int64_t begin,
                        std::int64_t end) {
  begin = std::max<std::int64_t>(begin, 0);
  if (end <= begin) return {};
  const auto piece = accessibility.parameterizedAttribute(element, platform::AXParameterizedAttribute::stringForRange,
                                                          platform::AXTextRange{begin, end - begin});
  const auto* text = piece ? std::get_if<std::string>(&*piece) : nullptr;
  return text != nullptr ? *text : std::string();
}

}  // namespace

std::shared_ptr<TextInsertion> TextInsertion::create(Dependencies dependencies) {
  return std::shared_ptr<TextInsertion>(new TextInsertion(std::move(dependencies)));
}

TextInsertion::TextInsertion(Dependencies dependencies)
    : dependencies_(std::move(dependencies)), reading_(dependencies_.accessibility) {}

TextInsertion::Route TextInsertion::insertIntoTarget(std::string_view text, const InsertionTarget& target) {
  InsertionTarget chosen = target;
  if (chosen.isNone() && dependencies_.currentTarget) chosen = dependencies_.currentTarget();
  if (const auto& window = chosen.window()) {
    if (!text.empty()) pasteInto(text, {window->application.processId, window->windowId});
    return Route::field;
  }
  if (chosen.element().isNone()) {
    copyToPasteboard(text);
    return Route::pasteboardOnly;
  }
  insertAtCursor(text, chosen.element());
  return Route::field;
}

void TextInsertion::insertAtCursor(std::string_view text, const AccessibilityElement& element) {
  // Nothing to type; a lone space would be all that reached the field.
  if (text.empty()) return;
  const PasteDestination destination{dependencies_.accessibility.processId(element), std::nullopt};
  // A prompt is short, so the start of a long document is enough to tell that it is not one.
  const auto current = reading_.leadingTextOf(element, promptReadUnits);
  const std::string placeholder = reading_.placeholderOf(element);
  const bool simple = prefersPasting(reading_, dependencies_.identity, element, current.text, placeholder);
  const bool showsItsPlaceholder = current.complete && !placeholder.empty() && current.text == placeholder;

  if (showsItsPlaceholder || looksLikePlaceholderChrome(current.text) || simple) {
    dependencies_.log.log("✏️ insertAtCursor: paste-only field len=" + std::to_string(text::characterCount(text)) +
                          " simple=" + yesNo(simple) + " ph=\"" + characterPrefix(placeholder, 40) + "\"");
    pasteInto(text, destination);
    return;
  }
  if (landedByDirectWrite(text, element, current)) return;
  dependencies_.log.log("✏️ insertAtCursor: AX write dropped, paste fallback");
  pasteInto(text, destination);
}

// The insertion replaces the selection, or goes in at the caret, as typing would, and leaves the caret
// after it. It landed when the field holds one more copy of the text than it would have held without
// the selection; only the stretch around the caret can tell, so only that stretch is read, whatever
// the document's length. Fields that tell no caret are compared whole.
bool TextInsertion::landedByDirectWrite(std::string_view text, const AccessibilityElement& element,
                                        const ElementReading::LeadingText& current) {
  auto& accessibility = dependencies_.accessibility;
  const std::string payload = std::string(text) + " ";
  const auto textUnits = static_cast<std::int64_t>(text::utf16Length(text));
  const auto payloadUnits = static_cast<std::int64_t>(text::utf16Length(payload));
  const auto selection = accessibility.typedAttribute<platform::AXTextRange>(element, AXAttribute::selectedTextRange);

  std::size_t copiesBefore = 0;
  if (selection) {
    const std::int64_t start = selection->location;
    const std::int64_t end = selection->location + selection->length;
    copiesBefore = occurrences(textBetween(accessibility, element, start - textUnits, start) +
                                   textBetween(accessibility, element, end, end + textUnits),
                               text);
  } else {
    copiesBefore = occurrences(reading_.textOf(element), text);
  }
  // Applications that drop writes answer success too, so only reading the field back tells.
  static_cast<void>(accessibility.setAttribute(element, AXAttribute::selectedText, payload));

  std::size_t copiesAfter = 0;
  if (selection) {
    // The caret after the insertion tells where the text went, even when the range read before was stale.
    const auto caret = accessibility.typedAttribute<platform::AXTextRange>(element, AXAttribute::selectedTextRange);
    const std::int64_t start = caret ? caret->location - payloadUnits : selection->location;
    copiesAfter = occurrences(textBetween(accessibility, element, start - textUnits, start + payloadUnits + textUnits), text);
  } else {
    copiesAfter = occurrences(reading_.textOf(element), text);
  }
  const bool landed = copiesAfter > copiesBefore;

  // A short field is counted in user-perceived characters; a long document by its length in UTF-16
  // units, which costs nothing to ask.
  std::size_t fieldLength = 0;
  if (current.complete) {
    fieldLength = text::characterCount(reading_.textOf(element));
  } else if (const auto units = accessibility.typedAttribute<double>(element, AXAttribute::numberOfCharacters)) {
    fieldLength = static_cast<std::size_t>(*units);
  }
  dependencies_.log.log("✏️ insertAtCursor: len=" + std::to_string(text::characterCount(text)) +
                        " landed=" + yesNo(landed) + " fieldLen=" + std::to_string(fieldLength));
  return landed;
}

void TextInsertion::copyToPasteboard(std::string_view text) {
  dependencies_.pasteboard.write(PasteboardContents::withText(text));
}

void TextInsertion::pasteInto(std::string_view text, const PasteDestination& destination) {
  const std::string payload = std::string(text) + " ";
  std::string bundleId;
  if (destination.processId) {
    bundleId = dependencies_.identity.bundleIdOfProcess(*destination.processId).value_or(std::string());
  }
  const PasteChord chord = pasteChordFor(bundleId);

  PendingRestore pending;
  pending.offeredText = payload;
  pending.clipboard = userContentsOf(dependencies_.pasteboard, pendingRestore_ ? std::optional(pendingRestore_->clipboard)
                                                                                : std::nullopt);
  if (chord.readsPrimarySelection) {
    pending.primarySelection = userContentsOf(dependencies_.primarySelection,
                                              pendingRestore_ ? pendingRestore_->primarySelection : std::nullopt);
  }
  if (pendingRestore_) pendingRestore_->timer.cancel();

  PasteboardContents offered = PasteboardContents::withText(payload);
  offered.set(secretHintType, secretHintValue);
  dependencies_.pasteboard.write(offered);
  if (chord.readsPrimarySelection) dependencies_.primarySelection.write(offered);

  if (destination.windowId) {
    dependencies_.activation.activateWindow(*destination.windowId);
  } else if (destination.processId) {
    dependencies_.activation.activate(*destination.processId);
  }
  auto& loop = dependencies_.mainLoop;
  loop.after(keystrokeDelaySeconds, weakly(shared_from_this(), [keys = chord.keys](TextInsertion& self) {
               self.dependencies_.keys.post(keys);
             }));
  pending.timer = loop.after(restoreDelaySeconds,
                             weakly(shared_from_this(), [](TextInsertion& self) { self.restoreClipboard(); }));
  pendingRestore_ = std::move(pending);
}

PasteboardContents TextInsertion::userContentsOf(platform::Pasteboard& board,
                                                 const std::optional<PasteboardContents>& kept) {
  if (kept && pendingRestore_ && board.holdsText(pendingRestore_->offeredText)) return *kept;
  return board.contents();
}

void TextInsertion::restoreClipboard() {
  if (!pendingRestore_) return;
  const PendingRestore pending = std::move(*pendingRestore_);
  pendingRestore_.reset();
  // Whatever the user copied or selected since the paste stays; an empty board had nothing to put back.
  const auto putBack = [&](platform::Pasteboard& board, const PasteboardContents& original) {
    if (original.isEmpty() || !board.holdsText(pending.offeredText)) return;
    board.write(original);
  };
  putBack(dependencies_.pasteboard, pending.clipboard);
  if (pending.primarySelection) putBack(dependencies_.primarySelection, *pending.primarySelection);
}

}  // namespace quillet::dictate
