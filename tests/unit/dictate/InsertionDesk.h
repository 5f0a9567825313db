#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeAppIdentity.h"
#include "platform/fake/FakeApplicationActivation.h"
#include "platform/fake/FakeKeySynth.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/VirtualMainLoop.h"
#include "quillet-dictate/accessibility/TextInsertion.h"
#include "quillet-dictate/shell/VxLog.h"
#include "tests/support/CapturedLog.h"
#include "tests/support/TemporaryDirectory.h"

namespace quillet::dictate::test {

// A desk for insertion tests: one application with a window, a clipboard, a keyboard and virtual time.
// Every keystroke records what the clipboard's text was at that moment: what the paste typed.
struct InsertionDesk {
  static constexpr int applicationProcess = 4242;

  InsertionDesk() {
    identity.bundleIds[applicationProcess] = "org.example.Editor";
    keys.onPost = [this](const platform::KeyChord& chord) {
      // Shift+Insert pastes the primary selection, every other chord the clipboard.
      const bool primary = chord.key == "Insert";
      pasted.push_back((primary ? primarySelection : pasteboard).current.plainText());
    };
  }

  // A field in the application's window.
  platform::AccessibilityElement addField(platform::fake::FakeElementSpec spec) {
    return accessibility.addElement(window, std::move(spec));
  }

  // A settable text field that takes writes as `behaviour` says.
  platform::AccessibilityElement addTextField(std::string value, std::optional<platform::AXTextRange> selection = {},
                                              platform::fake::FakeWriteBehaviour behaviour =
                                                  platform::fake::FakeWriteBehaviour::accept) {
    return addField({.role = "AXTextField",
                     .value = std::move(value),
                     .selectedTextRange = selection,
                     .valueSettable = true,
                     .writeBehaviour = behaviour});
  }

  // The user's clipboard holds plain text copied in another application.
  void userCopied(const std::string& text) {
    pasteboard.copyFromAnotherApplication(platform::PasteboardContents::withText(text));
  }

  std::optional<std::string> clipboardText() const { return pasteboard.current.plainText(); }

  platform::fake::VirtualMainLoop loop;
  platform::fake::FakeAccessibility accessibility{loop};
  platform::fake::FakeAppIdentity identity;
  platform::fake::FakePasteboard pasteboard;
  platform::fake::FakePasteboard primarySelection;
  platform::fake::FakeKeySynth keys;
  platform::fake::FakeApplicationActivation activation;
  quillet::test::TemporaryDirectory folder;
  quillet::test::CapturedLog captured;
  VxLog log{folder.path() / "vessio.log", loop, captured.mirror()};
  // What the focus tracker holds as its current target.
  InsertionTarget currentTarget;
  std::vector<std::optional<std::string>> pasted;

  platform::AccessibilityElement application = accessibility.addApplication(applicationProcess);
  platform::AccessibilityElement window = accessibility.addElement(application, {.role = "AXWindow"});
  std::shared_ptr<TextInsertion> insertion = TextInsertion::create(
      {accessibility, identity, pasteboard, primarySelection, keys, activation, loop, log, [this] { return currentTarget; }});
};

}  // namespace quillet::dictate::test
