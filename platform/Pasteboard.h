#pragma once

#include <string_view>

#include "platform/PasteboardContents.h"

namespace quillet::platform {

// The desktop's general clipboard (not the X primary selection). Main thread only.
class Pasteboard {
 public:
  virtual ~Pasteboard() = default;

  // A copy of everything the clipboard holds now, in every format; empty when it holds nothing.
  virtual PasteboardContents contents() = 0;

  // Replaces whatever the clipboard holds with `contents`; empty contents clear it.
  virtual void write(const PasteboardContents& contents) = 0;

  // Whether the clipboard's plain text is exactly `text`: cheaper than contents() when only the text
  // matters, as when telling whether someone copied something else since we wrote.
  virtual bool holdsText(std::string_view text) = 0;
};

}  // namespace quillet::platform
