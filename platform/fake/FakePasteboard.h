#pragma once

#include <string_view>
#include <vector>

#include "platform/Pasteboard.h"

namespace quillet::platform::fake {

// A clipboard in memory that remembers every write, and on which the test plays the user copying
// something in another application.
class FakePasteboard final : public Pasteboard {
 public:
  PasteboardContents contents() override { return current; }
  void write(const PasteboardContents& contents) override;
  bool holdsText(std::string_view text) override;

  // Another application puts `contents` on the clipboard; not counted among the writes.
  void copyFromAnotherApplication(const PasteboardContents& contents) { current = contents; }

  PasteboardContents current;
  // Every write of the code under test, oldest first.
  std::vector<PasteboardContents> writes;
};

}  // namespace quillet::platform::fake
