#pragma once

#include <string_view>

#include "platform/Pasteboard.h"

namespace quillet::platform::qt {

// The clipboard through Qt (on X11 the CLIPBOARD selection). A QGuiApplication (or QApplication)
// must exist; Qt serves what we put there to other applications from its event loop, so the main
// loop has to keep running for a paste to receive it.
class QtPasteboard final : public Pasteboard {
 public:
  PasteboardContents contents() override;
  void write(const PasteboardContents& contents) override;
  bool holdsText(std::string_view text) override;
};

}  // namespace quillet::platform::qt
