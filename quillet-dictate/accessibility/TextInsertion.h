#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Accessibility.h"
#include "platform/AppIdentity.h"
#include "platform/ApplicationActivation.h"
#include "platform/KeySynth.h"
#include "platform/MainLoop.h"
#include "platform/Pasteboard.h"
#include "quillet-dictate/accessibility/ElementReading.h"
#include "quillet-dictate/accessibility/InsertionTarget.h"
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

// Types the agent's results into the field the user works in, in another application: by inserting them
// at the caret (replacing a selection, as typing does) when the field takes it, else through the
// clipboard and the paste keystroke, putting the user's clipboard back a second later. Main thread only.
class TextInsertion : public std::enable_shared_from_this<TextInsertion> {
 public:
  // How long after a paste the user's clipboard is put back, and how long the target is given to
  // come to the front before the keystroke.
  static constexpr double restoreDelaySeconds = 1.0;
  static constexpr double keystrokeDelaySeconds = 0.08;

  // The clipboard format clipboard managers read as "do not keep this in the history".
  static constexpr std::string_view secretHintType = "x-kde-passwordManagerHint";
  static constexpr std::string_view secretHintValue = "secret";

  struct Dependencies {
    platform::Accessibility& accessibility;
    platform::AppIdentity& identity;
    platform::Pasteboard& pasteboard;
    // The X primary selection, which the xterm family pastes.
    platform::Pasteboard& primarySelection;
    platform::KeySynth& keys;
    platform::ApplicationActivation& activation;
    platform::MainLoop& mainLoop;
    const VxLog& log;
    // The focus tracker's current target: its editable element, or the front window of an application
    // without an accessibility tree; none when there is neither.
    std::function<InsertionTarget()> currentTarget;
  };

  // Where insertIntoTarget put the text.
  enum class Route { field, pasteboardOnly };

  static std::shared_ptr<TextInsertion> create(Dependencies dependencies);

  // Inserts into `target` (the HUD's insertion target), else into the focus tracker's current target;
  // with neither, only copies the text to the clipboard. A window target is pasted into.
  Route insertIntoTarget(std::string_view text, const InsertionTarget& target);

  // Inserts `text` and one space at the caret of `element`, or pastes them when the field is empty,
  // shows only its prompt, belongs to a chat application, or did not take the insertion.
  void insertAtCursor(std::string_view text, const platform::AccessibilityElement& element);

  // Puts `text` alone on the clipboard for the user to paste; nothing is put back later.
  void copyToPasteboard(std::string_view text);

 private:
  // The clipboard (and the primary selection, when the paste used it) as the user had them before a
  // paste, kept until they are put back.
  struct PendingRestore {
    platform::PasteboardContents clipboard;
    std::optional<platform::PasteboardContents> primarySelection;
    std::string offeredText;
    platform::Timer timer;
  };
  // Where a paste goes: the application, and its window when the target is a window.
  struct PasteDestination {
    std::optional<int> processId;
    std::optional<std::uint64_t> windowId;
  };

  explicit TextInsertion(Dependencies dependencies);

  // Pastes `text` and one space into the destination; the keystroke and the restore run later on the
  // main loop.
  void pasteInto(std::string_view text, const PasteDestination& destination);
  // What `board` held for the user before our pastes: while an earlier paste still waits to put it
  // back and the board still shows that paste's text, what that paste kept.
  platform::PasteboardContents userContentsOf(platform::Pasteboard& board,
                                              const std::optional<platform::PasteboardContents>& kept);
  void restoreClipboard();
  bool landedByDirectWrite(std::string_view text, const platform::AccessibilityElement& element,
                           const ElementReading::LeadingText& current);

  Dependencies dependencies_;
  ElementReading reading_;
  std::optional<PendingRestore> pendingRestore_;
};

}  // namespace quillet::dictate
