#pragma once

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
#include "quillet-dictate/shell/VxLog.h"

namespace quillet::dictate {

// Types the agent's results into the field the user works in, in another application: by writing the
// field's AXValue at the caret when the field takes it, else through the clipboard and the paste keystroke,
// putting the user's clipboard back a second later. Main thread only.
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
    platform::KeySynth& keys;
    platform::ApplicationActivation& activation;
    platform::MainLoop& mainLoop;
    const VxLog& log;
    // The focus tracker's current editable element; "no element" when there is none.
    std::function<platform::AccessibilityElement()> currentElement;
  };

  // Where insertIntoTarget put the text.
  enum class Route { field, pasteboardOnly };

  static std::shared_ptr<TextInsertion> create(Dependencies dependencies);

  // Inserts into `target` (the HUD's insertion target), else into the focus tracker's current element;
  // with neither, only copies the text to the clipboard.
  Route insertIntoTarget(std::string_view text, const platform::AccessibilityElement& target);

  // Writes `text` and one space at the caret of `element`, or pastes them when the field is empty,
  // shows only its prompt, belongs to a chat application, or did not take the write.
  void insertAtCursor(std::string_view text, const platform::AccessibilityElement& element);

  // Puts `text` alone on the clipboard for the user to paste; nothing is put back later.
  void copyToPasteboard(std::string_view text);

 private:
  // The clipboard as the user had it before a paste, kept until it is put back.
  struct PendingRestore {
    platform::PasteboardContents original;
    std::string offeredText;
    platform::Timer timer;
  };

  explicit TextInsertion(Dependencies dependencies);

  // Pastes `text` and one space into the application `targetProcessId`; the keystroke and the
  // restore run later on the main loop.
  void pasteInto(std::string_view text, std::optional<int> targetProcessId);
  platform::PasteboardContents clipboardToRestore();
  void restoreClipboard();
  bool landedByDirectWrite(std::string_view text, const platform::AccessibilityElement& element,
                           const std::string& current);

  Dependencies dependencies_;
  ElementReading reading_;
  std::optional<PendingRestore> pendingRestore_;
};

}  // namespace quillet::dictate
