#include "quillet-dictate/accessibility/TextInsertion.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "common/runtime/Weakly.h"
#include "common/text/UnicodeText.h"
#include "quillet-dictate/accessibility/ApplicationOfElement.h"
#include "quillet-dictate/accessibility/CaretOffset.h"
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

// Whether the field wants pasting rather than a write of its value: a chat application's text field,
// or a field showing only a prompt. The decoration rule alone would count a missing placeholder as a
// prompt and send every field without one to the paste path.
bool prefersPasting(const ElementReading& reading, platform::AppIdentity& identity, const AccessibilityElement& element,
                    const std::string& current, const std::string& placeholder) {
  if (!placeholder.empty()) return prefersSimpleExternalDecoration(reading, identity, element);
  const std::string role = reading.roleOf(element);
  const bool chatField = (role == "AXTextArea" || role == "AXTextField") &&
                         isSimpleDecorationApp(bundleIdOfElement(reading, identity, element));
  return chatField || looksLikePlaceholderChrome(current);
}

std::size_t occurrences(std::string_view haystack, std::string_view needle) {
  if (needle.empty()) return 0;
  std::size_t count = 0;
  for (auto at = haystack.find(needle); at != std::string_view::npos; at = haystack.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

}  // namespace

std::shared_ptr<TextInsertion> TextInsertion::create(Dependencies dependencies) {
  return std::shared_ptr<TextInsertion>(new TextInsertion(std::move(dependencies)));
}

TextInsertion::TextInsertion(Dependencies dependencies)
    : dependencies_(std::move(dependencies)), reading_(dependencies_.accessibility) {}

TextInsertion::Route TextInsertion::insertIntoTarget(std::string_view text, const AccessibilityElement& target) {
  AccessibilityElement element = target;
  if (element.isNone() && dependencies_.currentElement) element = dependencies_.currentElement();
  if (element.isNone()) {
    copyToPasteboard(text);
    return Route::pasteboardOnly;
  }
  insertAtCursor(text, element);
  return Route::field;
}

void TextInsertion::insertAtCursor(std::string_view text, const AccessibilityElement& element) {
  // Nothing to type; a lone space would be all that reached the field.
  if (text.empty()) return;
  const auto processId = dependencies_.accessibility.processId(element);
  const std::string current = reading_.textOf(element);
  const std::string placeholder = reading_.placeholderOf(element);
  const bool simple = prefersPasting(reading_, dependencies_.identity, element, current, placeholder);
  const bool showsItsPlaceholder = !placeholder.empty() && current == placeholder;

  if (showsItsPlaceholder || looksLikePlaceholderChrome(current) || simple) {
    dependencies_.log.log("✏️ insertAtCursor: paste-only field len=" + std::to_string(text::characterCount(text)) +
                          " simple=" + yesNo(simple) + " ph=\"" + characterPrefix(placeholder, 40) + "\"");
    pasteInto(text, processId);
    return;
  }
  if (landedByDirectWrite(text, element, current)) return;
  dependencies_.log.log("✏️ insertAtCursor: AX write dropped, paste fallback");
  pasteInto(text, processId);
}

bool TextInsertion::landedByDirectWrite(std::string_view text, const AccessibilityElement& element,
                                        const std::string& current) {
  auto& accessibility = dependencies_.accessibility;
  // The selection's length is ignored on purpose: selected text stays, the insertion goes before it.
  const auto selection = accessibility.typedAttribute<platform::AXTextRange>(element, AXAttribute::selectedTextRange);
  const std::size_t offset =
      selection ? byteOffsetOfCaret(current, std::max<std::int64_t>(selection->location, 0)) : current.size();

  std::string newValue = current;
  newValue.insert(offset, std::string(text) + " ");
  // Applications that drop writes answer success too, so only reading the field back tells.
  static_cast<void>(accessibility.setAttribute(element, AXAttribute::value, newValue));

  const std::string reread = reading_.textOf(element);
  // One more copy of the text than before the write: a field that already held the text somewhere
  // does not pass for one that took the write.
  const bool landed = occurrences(reread, text) > occurrences(current, text);
  dependencies_.log.log("✏️ insertAtCursor: len=" + std::to_string(text::characterCount(text)) +
                        " landed=" + yesNo(landed) + " fieldLen=" + std::to_string(text::characterCount(reread)));
  return landed;
}

void TextInsertion::copyToPasteboard(std::string_view text) {
  dependencies_.pasteboard.write(PasteboardContents::withText(text));
}

void TextInsertion::pasteInto(std::string_view text, std::optional<int> targetProcessId) {
  const std::string payload = std::string(text) + " ";
  PasteboardContents original = clipboardToRestore();
  if (pendingRestore_) pendingRestore_->timer.cancel();

  PasteboardContents offered = PasteboardContents::withText(payload);
  offered.set(secretHintType, secretHintValue);
  dependencies_.pasteboard.write(offered);

  std::string bundleId;
  if (targetProcessId) {
    dependencies_.activation.activate(*targetProcessId);
    bundleId = dependencies_.identity.bundleIdOfProcess(*targetProcessId).value_or(std::string());
  }
  auto& loop = dependencies_.mainLoop;
  loop.after(keystrokeDelaySeconds, weakly(shared_from_this(), [chord = pasteChordFor(bundleId)](TextInsertion& self) {
               self.dependencies_.keys.post(chord);
             }));
  auto restore = loop.after(restoreDelaySeconds,
                            weakly(shared_from_this(), [](TextInsertion& self) { self.restoreClipboard(); }));
  pendingRestore_ = PendingRestore{std::move(original), payload, std::move(restore)};
}

// While an earlier paste still waits to put the user's clipboard back and the clipboard still holds
// that paste's text, the user's clipboard is the one that paste kept, not our own text.
PasteboardContents TextInsertion::clipboardToRestore() {
  if (pendingRestore_ && dependencies_.pasteboard.holdsText(pendingRestore_->offeredText)) {
    return pendingRestore_->original;
  }
  return dependencies_.pasteboard.contents();
}

void TextInsertion::restoreClipboard() {
  if (!pendingRestore_) return;
  const PendingRestore pending = std::move(*pendingRestore_);
  pendingRestore_.reset();
  // Whatever the user copied since the paste stays; an empty clipboard had nothing to put back.
  if (pending.original.isEmpty() || !dependencies_.pasteboard.holdsText(pending.offeredText)) return;
  dependencies_.pasteboard.write(pending.original);
}

}  // namespace quillet::dictate
