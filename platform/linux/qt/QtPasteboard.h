#pragma once

#include <string_view>

#include "platform/Pasteboard.h"

namespace quillet::platform::qt {

// The clipboard through Qt: on X11 the CLIPBOARD selection, or the PRIMARY selection (what a middle
// click or Shift+Insert pastes). A QGuiApplication (or QApplication) must exist; Qt serves what we put
// there to other applications from its event loop, so the main loop has to keep running for a paste to
// receive it.
class QtPasteboard final : public Pasteboard {
 public:
  enum class Selection { clipboard, primary };

  explicit QtPasteboard(Selection selection = Selection::clipboard) : selection_(selection) {}

  PasteboardContents contents() override;
  void write(const PasteboardContents& contents) override;
  bool holdsText(std::string_view text) override;

 private:
  Selection selection_;
};

}  // namespace quillet::platform::qt
