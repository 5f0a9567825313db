#include "platform/fake/FakePasteboard.h"

namespace quillet::platform::fake {

void FakePasteboard::write(const PasteboardContents& contents) {
  current = contents;
  writes.push_back(contents);
}

bool FakePasteboard::holdsText(std::string_view text) {
  const auto held = current.plainText();
  return held && *held == text;
}

}  // namespace quillet::platform::fake
